// Programming the target with each fault switch on the SWD init, the first, a middle and the last
// block, the target check and the run step.

#include "FaultBench.h"

using namespace faultbench;

// 'A' #1 is the init, 'A' #2 the run step. Blocks go to 0, 0x1000 and 0x2000 (the short one,
// whose failure is -5). A run step whose target reports a failure still ends OK; block replies
// are only validated and a damaged one logs no CRC line.
static void addRows()
{
    addMatrixColumns();

    const QString image = crcText(codeImage());
    const QStringList ready = {"Target init ok...", "Target type:0x5A3C3180", "Init ready..."};
    const QStringList started = ready + QStringList{kTimer, "Start to program ..."};
    const QStringList written = started + QStringList{"Program end!", kTimer};
    const QStringList checked = written + QStringList{"Read crc:" + image, "Check crc OK!", kTimer};
    const QStringList ok = checked + QStringList{"Target run...", "", "Program target is OK!!!!!!"};
    const auto fail = [](int result) {
        return QStringList{"", "Program target is fail....." + QString::number(result)};
    };
    const QString initCrc = damaged("SWD init CRC:");

    FrameRows rows;
    rows.ok = ok;
    rows.failed = rows.passed = on(kTargetAndFlash);

    rows.lost = QStringList{"Init fail...-2"};
    rows.malformed = QStringList{"Init fail...-3"};
    rows.damagedCrc = QStringList{initCrc, "Init fail...-4"};
    rows.failing = QStringList{"Target init fail...", "Init fail...-3"};
    rows.after = fail(10);
    addFrameRows('A', 1, rows);

    rows.before = started;
    rows.failing.reset();
    for (int frame = 1; frame <= 3; ++frame) {
        const QString at = "NG, Addr : 0x" + QString::number((frame - 1) * 0x1000, 16);
        rows.lost = QStringList{at + "-2"};
        rows.malformed = QStringList{at + "-3"};
        rows.damagedCrc = QStringList{at + "-4"};
        rows.after = fail(frame < 3 ? -3 : -5);
        addFrameRows('F', frame, rows);
    }

    rows.before = written;
    rows.lost = rows.malformed = QStringList{"Check crc NG!"};
    rows.damagedCrc = QStringList{damaged("CRC error:"), "Check crc NG!"};
    rows.failing = QStringList{"Read crc:" + image, "Check crc NG!"};
    rows.after = fail(-7);
    addFrameRows('G', 1, rows);

    rows.before = checked;
    rows.lost = rows.malformed = QStringList{};
    rows.damagedCrc = QStringList{initCrc};
    rows.after = fail(10);
    rows.except[FaultKind::FailingStatus] = {
        checked + QStringList{"Target run fail...", "", "Program target is OK!!!!!!"}, rows.passed};
    addFrameRows('A', 2, rows);
}

int main(int argc, char **argv)
{
    return runMatrix(argc, argv, addRows, Operation::Program);
}
