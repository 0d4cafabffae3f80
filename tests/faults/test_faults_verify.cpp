// Verifying the target with each fault switch on the SWD init, the target check and the run step.
// Verify goes on after a failed step, and a step the board never answered costs only itself: its
// read is ended, and the steps after it are sent and answered.

#include "FaultBench.h"

#include <QtTest>

using namespace faultbench;

class VerifyFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { unplugEverything(); }
    void cleanup() { unplugEverything(); }

    void verifyUnderFaults_data();
    void verifyUnderFaults() { runCase(Operation::Verify); }
};

// The target was programmed with the image first. Verify logs no verdict of its own and leaves
// the buttons alone; only when the board drops off may the removal news find the programmer
// still open (before the failed write has closed it) and switch the four buttons off.
void VerifyFaultsTest::verifyUnderFaults_data()
{
    addMatrixColumns();

    const QString image = hex8(referenceCrc(codeImage()));
    const QStringList gap = {"", ""};
    const QStringList ready = {"Target init ok...", "Target type:0x5A3C3180", "Init ready..."};
    const QStringList same = {"Read crc:" + image, "Check EFlash OK!"};
    const QStringList running = {"Target run...", "Target run..."};
    const QStringList ok = gap + ready + same + running;
    const QString initCrc = damaged("SWD init CRC:");
    const ButtonSets unchanged = on(kTargetAndFlash);
    const ButtonSets gone = on(kTargetAndFlash, kNoButtons);

    using F = FaultKind;
    addCase('A', 1, F::NoReply) << gap + QStringList{"Init fail..."} + same + running
                                << unchanged;
    addCase('A', 1, F::LateReply) << ok << unchanged;
    addCase('A', 1, F::WrongLength)
        << gap + QStringList{"Init fail..."} + same + running << unchanged;
    addCase('A', 1, F::WrongMarker)
        << gap + QStringList{"Init fail..."} + same + running << unchanged;
    addCase('A', 1, F::BadReplyCrc)
        << gap + QStringList{initCrc, "Init fail..."} + same + running << unchanged;
    addCase('A', 1, F::FailingStatus)
        << gap + QStringList{"Target init fail...", "Init fail..."} + same + running << unchanged;
    addCase('A', 1, F::BoardGone) << gap + QStringList{kRemoved, "Init fail...", "Check EFlash NG!"}
                                  << gone;
    addCase('A', 1, F::Latency) << ok << unchanged;

    addCase('G', 1, F::NoReply) << gap + ready + QStringList{"Check EFlash NG!"} + running
                                << unchanged;
    addCase('G', 1, F::LateReply) << ok << unchanged;
    addCase('G', 1, F::WrongLength)
        << gap + ready + QStringList{"Check EFlash NG!"} + running << unchanged;
    addCase('G', 1, F::WrongMarker)
        << gap + ready + QStringList{"Check EFlash NG!"} + running << unchanged;
    addCase('G', 1, F::BadReplyCrc)
        << gap + ready + QStringList{damaged("CRC error:"), "Check EFlash NG!"} + running
        << unchanged;
    addCase('G', 1, F::FailingStatus)
        << gap + ready + QStringList{"Read crc:" + image, "Check EFlash NG!"} + running
        << unchanged;
    addCase('G', 1, F::BoardGone) << gap + ready + QStringList{kRemoved, "Check EFlash NG!"}
                                  << gone;
    addCase('G', 1, F::Latency) << ok << unchanged;

    addCase('A', 2, F::NoReply) << gap + ready + same << unchanged;
    addCase('A', 2, F::LateReply) << ok << unchanged;
    addCase('A', 2, F::WrongLength) << gap + ready + same << unchanged;
    addCase('A', 2, F::WrongMarker) << gap + ready + same << unchanged;
    addCase('A', 2, F::BadReplyCrc) << gap + ready + same + QStringList{initCrc} << unchanged;
    // The command returns 0 after its own line, so the slot's line follows it.
    addCase('A', 2, F::FailingStatus)
        << gap + ready + same + QStringList{"Target run fail...", "Target run..."} << unchanged;
    addCase('A', 2, F::BoardGone) << gap + ready + same + QStringList{kRemoved} << gone;
    addCase('A', 2, F::Latency) << ok << unchanged;
}

QTEST_MAIN(VerifyFaultsTest)
#include "test_faults_verify.moc"
