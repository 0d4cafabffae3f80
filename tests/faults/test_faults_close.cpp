// Quitting while a transfer is pending, in every operation: the board holds the reply of one
// frame for ever, the window is closed meanwhile, and the program goes within five seconds with
// config.ini written. And what a wait that gives up leaves behind: nothing. A late reply is never
// taken for the reply of a later command, a lost reply does not keep the next command from being
// sent and answered, and a frame the board takes after its send was given up does not lend its
// verdict to the next one.

#include "FaultBench.h"

#include "emulator/EmulatedBus.h"
#include "ui/MainWindowForm.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QtTest>

using namespace faultbench;

namespace
{

// Long enough that no board restart happens within a case.
constexpr int kNoRestartMs = 600000;

} // namespace

class CloseAndLateReplyTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { unplugEverything(); }
    void cleanup() { unplugEverything(); }

    void closingWhileATransferIsPending_data();
    void closingWhileATransferIsPending();
    void lateReplyIsNeverTakenForALaterOne();
    void lostReplyLeavesTheLinkUsable();
    void frameTakenAfterItsSendWasGivenUpLendsNoVerdict();
};

void CloseAndLateReplyTest::closingWhileATransferIsPending_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<char>("command");
    QTest::addColumn<int>("frame");
    QTest::addColumn<QStringList>("ending");

    QTest::newRow("open, connect")
        << int(Operation::Open) << 'K' << 1
        << QStringList{"Open the programmer ok...", "Fail to connect the programmer..."};
    QTest::newRow("download, block 2")
        << int(Operation::Download) << 'H' << 2
        << QStringList{"NG, Addr : 0x11000-2", "", "Download to the programmer flash is fail....."};
    QTest::newRow("flash check") << int(Operation::CheckFlash) << 'I' << 1
                                 << QStringList{"", "", "Check programmer flash CRC is NG..."};
    QTest::newRow("program, block 2")
        << int(Operation::Program) << 'F' << 2
        << QStringList{"NG, Addr : 0x1000-2", "", "Program target is fail.....-3"};
    // The run step that follows the check is not even sent.
    QTest::newRow("verify, target check")
        << int(Operation::Verify) << 'G' << 1 << QStringList{"Init ready...", "Check EFlash NG!"};
    QTest::newRow("firmware update, flash check")
        << int(Operation::FirmwareUpdate) << 'L' << 1
        << QStringList{"Check EFlash NG!", "", "Update MCU is fail....."};
    QTest::newRow("boot update, switch")
        << int(Operation::BootUpdate) << 'O' << 1
        << QStringList{"Check EFlash OK!", kTimer, "", "Update MCU is OK!!!!!!"};
}

void CloseAndLateReplyTest::closingWhileATransferIsPending()
{
    QFETCH(int, operation);
    QFETCH(char, command);
    QFETCH(int, frame);
    QFETCH(QStringList, ending);

    Bench bench(Operation(operation), kNoRestartMs);
    bench.window().show();
    bench.start();
    if (QTest::currentTestFailed())
        return;
    // Read at start; from here on only the window's end can bring it back.
    const QString config = QDir::currentPath() + QStringLiteral("/config.ini");
    QVERIFY(QFile::remove(config));
    bench.board().faults().arm(Fault::nth(FaultKind::NoReply, frame).onCommand(command));

    QElapsedTimer sinceClose;
    WhenReplyHeld closer(bench, [&] {
        sinceClose.start();
        bench.window().close();
    });
    const QStringList log = bench.run();

    QVERIFY2(sinceClose.isValid(), "the held frame was never sent");
    QVERIFY2(sinceClose.elapsed() < 5000, "the operation did not give up its waits");
    QCOMPARE(log.mid(log.size() - ending.size()), ending);
    QTRY_VERIFY_WITH_TIMEOUT(!bench.window().isVisible(), 5000);
    QVERIFY(!bench.window().device().isOpen());
    bench.destroyWindow();
    QVERIFY2(sinceClose.elapsed() < 5000, "the window took five seconds or more to go");
    QCOMPARE(readAll(config),
             QByteArray("UPBOOT:0\nNFLASH:0\n./\n./\nBLSET:0\nWAITT:0\nPWROFF:1\n"));
    QVERIFY(bench.boxes().isEmpty());
}

// The first check's reply comes seven seconds late, long after its 2.2 s wait, and reports a
// failure. The wait's read is aborted and the link goes on: a program run right after sends its
// first frame, whose reply the board queues behind the late one, so the run gives up on it too.
// When the late replies come they are dropped unseen by the idle worker still listening for
// them, and neither answers the next check.
void CloseAndLateReplyTest::lateReplyIsNeverTakenForALaterOne()
{
    Bench bench(Operation::CheckFlash);
    bench.start();
    if (QTest::currentTestFailed())
        return;
    bench.board().faults().arm(Fault::nth(FaultKind::LateReply, 1).onCommand('I').withDelay(7000));
    bench.board().faults().arm(Fault::nth(FaultKind::FailingStatus, 1).onCommand('I'));
    const QString ng = QStringLiteral("Check programmer flash CRC is NG...");

    QCOMPARE(bench.run(), (QStringList{"", "", ng}));
    MainWindow &window = bench.window();
    window.form()->pushButton_UpdateTarget->click();
    QCOMPARE(bench.normalised(bench.logLines()),
             (QStringList{"Init fail...-2", "", "Program target is fail.....10"}));

    QTRY_VERIFY_WITH_TIMEOUT(window.worker().owedReplies.load() == 0, 20000);
    const QStringList quiet = bench.logLines();
    QTest::qWait(200);
    QCOMPARE(bench.logLines(), quiet); // nothing shows the late reply

    const QString image = crcText(codeImage());
    QCOMPARE(bench.run(), (QStringList{"", "", "Check CRC:" + image, "Write spi flash OK!",
                                       "Check programmer flash CRC is OK..."}));
    QCOMPARE(bench.enabledButtons(), kTargetAndFlash);
    bench.replugAndProgram();
}

// The board never answers the program run's target check. The check gives up, and the open
// board is as usable as before: a verify right after, without reopening, is sent and answered.
void CloseAndLateReplyTest::lostReplyLeavesTheLinkUsable()
{
    Bench bench(Operation::Program);
    bench.start();
    if (QTest::currentTestFailed())
        return;
    bench.board().faults().arm(Fault::nth(FaultKind::NoReply, 1).onCommand('G'));
    const QString image = crcText(codeImage());
    const QStringList failed = bench.run();
    QCOMPARE(failed.mid(failed.size() - 3),
             (QStringList{"Check crc NG!", "", "Program target is fail.....-7"}));

    MainWindow &window = bench.window();
    const int before = bench.logLines().size();
    window.form()->pushButton_VerifyTarget->click();
    QCOMPARE(
        bench.normalised(bench.logLines().mid(before)),
        (QStringList{"", "", "Target init ok...", "Target type:0x5A3C3180", "Init ready...",
                     "Read crc:" + image, "Check EFlash OK!", "Target run...", "Target run..."}));
    QVERIFY(window.device().isOpen());
    QVERIFY(bench.boxes().isEmpty());
}

// The board holds the flash check's frame past the whole send window. Aborted in time, the frame
// never arrives; taken all the same, its reply is drained. Either way the next check, which the
// board fails, reports its own verdict, never the held frame's.
void CloseAndLateReplyTest::frameTakenAfterItsSendWasGivenUpLendsNoVerdict()
{
    Bench bench(Operation::CheckFlash);
    bench.start();
    if (QTest::currentTestFailed())
        return;
    const QString image = crcText(codeImage());
    const QString ng = QStringLiteral("Check programmer flash CRC is NG...");
    for (const FaultKind hold : {FaultKind::HeldFrame, FaultKind::HeldFrameTaken}) {
        bench.board().faults().arm(Fault::nth(hold, 1).onCommand('I').withDelay(1300));
        bench.board().faults().arm(Fault::nth(FaultKind::FailingStatus, 2).onCommand('I'));
        QCOMPARE(bench.run(), (QStringList{"", "", ng}));
        QCOMPARE(bench.run(), (QStringList{"", "", "Read crc:" + image, ng}));
        QCOMPARE(bench.run(), (QStringList{"", "", "Check CRC:" + image, "Write spi flash OK!",
                                           "Check programmer flash CRC is OK..."}));
        QVERIFY(bench.window().device().isOpen());
    }
}

QTEST_MAIN(CloseAndLateReplyTest)
#include "test_faults_close.moc"
