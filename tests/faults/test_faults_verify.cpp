// Verifying the target with each fault switch on the SWD init, the target check and the run step.
// Verify goes on after a failed step, and a step the board never answered costs only itself: its
// read is ended, and the steps after it are sent and answered.

#include "FaultBench.h"

using namespace faultbench;

// The target was programmed with the image first. Verify logs no verdict of its own and leaves
// the buttons alone; only when the board drops off may the removal news find the programmer
// still open (before the failed write has closed it) and switch the four buttons off.
static void addRows()
{
    addMatrixColumns();

    const QString image = crcText(codeImage());
    const QStringList gap = {"", ""};
    const QStringList ready = {"Target init ok...", "Target type:0x5A3C3180", "Init ready..."};
    const QStringList same = {"Read crc:" + image, "Check EFlash OK!"};
    const QStringList running = {"Target run...", "Target run..."};
    const QStringList ok = gap + ready + same + running;
    const QString initCrc = damaged("SWD init CRC:");
    const ButtonSets gone = on(kTargetAndFlash, kNoButtons);

    FrameRows rows;
    rows.ok = ok;
    rows.failed = rows.passed = on(kTargetAndFlash);

    // A board that dropped off answers none of the steps that follow.
    rows.before = gap;
    rows.lost = rows.malformed = QStringList{"Init fail..."};
    rows.damagedCrc = QStringList{initCrc, "Init fail..."};
    rows.failing = QStringList{"Target init fail...", "Init fail..."};
    rows.after = same + running;
    rows.except[FaultKind::BoardGone] = {
        gap + QStringList{kRemoved, "Init fail...", "Check EFlash NG!"}, gone};
    addFrameRows('A', 1, rows);

    rows.before = gap + ready;
    rows.lost = rows.malformed = QStringList{"Check EFlash NG!"};
    rows.damagedCrc = QStringList{damaged("CRC error:"), "Check EFlash NG!"};
    rows.failing = QStringList{"Read crc:" + image, "Check EFlash NG!"};
    rows.after = running;
    rows.except[FaultKind::BoardGone] = {gap + ready + QStringList{kRemoved, "Check EFlash NG!"},
                                         gone};
    addFrameRows('G', 1, rows);

    // The run step returns 0 after its own line, so the slot's line follows it.
    rows.before = gap + ready + same;
    rows.lost = rows.malformed = QStringList{};
    rows.damagedCrc = QStringList{initCrc};
    rows.failing = QStringList{"Target run fail...", "Target run..."};
    rows.after = QStringList{};
    rows.except[FaultKind::BoardGone] = {rows.before + QStringList{kRemoved}, gone};
    addFrameRows('A', 2, rows);
}

int main(int argc, char **argv)
{
    return runMatrix(argc, argv, addRows, Operation::Verify);
}
