// Unplugging the board during each phase of the operations on the target: identify (the SWD
// init), the blocks, the target check and the run step, in Program and in Verify.

#include "UnplugCases.h"

using namespace faultbench;

// Program ends at the phase with its failure code and brings the buttons back. Verify goes on
// with the steps after it, whose frames can no longer be sent, and leaves the buttons alone.
static void addRows()
{
    addUnplugColumns();

    const QString image = crcText(codeImage());
    const QStringList ready = {"Target init ok...", "Target type:0x5A3C3180", "Init ready..."};
    const QStringList started = ready + QStringList{kTimer, "Start to program ..."};
    const QStringList written = started + QStringList{"Program end!", kTimer};
    const QStringList checked = written + QStringList{"Read crc:" + image, "Check crc OK!", kTimer};
    const auto fail = [](int result) {
        return QStringList{"", "Program target is fail....." + QString::number(result)};
    };

    addPhase("program: identify", Operation::Program, 'A', 1)
        << QStringList{kRemoved, "Init fail...-2"} + fail(10) << kTargetAndFlash;
    addPhase("program: between blocks", Operation::Program, 0, kBetweenBlocks)
        << started + QStringList{kRemoved, "The programmer is disconnected!"} + fail(-4)
        << kTargetAndFlash;
    addPhase("program: blocks", Operation::Program, 'F', 2)
        << started + QStringList{kRemoved, "NG, Addr : 0x1000-2"} + fail(-3) << kTargetAndFlash;
    addPhase("program: check", Operation::Program, 'G', 1)
        << written + QStringList{kRemoved, "Check crc NG!"} + fail(-7) << kTargetAndFlash;
    addPhase("program: run step", Operation::Program, 'A', 2)
        << checked + QStringList{kRemoved} + fail(10) << kTargetAndFlash;

    const QStringList gap = {"", ""};
    addPhase("verify: identify", Operation::Verify, 'A', 1)
        << gap + QStringList{kRemoved, "Init fail...", "Check EFlash NG!"} << kTargetAndFlash;
    addPhase("verify: check", Operation::Verify, 'G', 1)
        << gap + ready + QStringList{kRemoved, "Check EFlash NG!"} << kTargetAndFlash;
    addPhase("verify: run step", Operation::Verify, 'A', 2)
        << gap + ready + QStringList{"Read crc:" + image, "Check EFlash OK!", kRemoved}
        << kTargetAndFlash;
}

int main(int argc, char **argv)
{
    return runMatrix(argc, argv, addRows, runUnplugCase);
}
