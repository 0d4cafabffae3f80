// Opening the programmer and checking the image in its flash, with each fault switch on the one
// connect frame and the one check frame these operations send.

#include "FaultBench.h"

#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"

#include <QtTest>

using namespace faultbench;

class OpenAndCheckFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { unplugEverything(); }
    void cleanup() { unplugEverything(); }

    void openUnderFaults_data();
    void openUnderFaults();
    void flashCheckUnderFaults_data();
    void flashCheckUnderFaults() { runCase(Operation::CheckFlash); }
};

// A failed connect leaves the programmer open with the worker running, unless a transfer failed
// (the board dropped off): then it is closed and the worker has ended.
void OpenAndCheckFaultsTest::openUnderFaults_data()
{
    addMatrixColumns();
    QTest::addColumn<bool>("leftOpen");

    const QString opened = "Open the programmer ok...";
    const QString failed = "Fail to connect the programmer...";
    const QStringList connected = kSuccessfulOpen;
    const ButtonSets none = on(kNoButtons);

    using F = FaultKind;
    addCase('K', 1, F::NoReply) << QStringList{opened, failed} << none << true;
    addCase('K', 1, F::LateReply) << connected << on(kTargetAndFlash) << true;
    addCase('K', 1, F::WrongLength) << QStringList{opened, failed} << none << true;
    addCase('K', 1, F::WrongMarker)
        << QStringList{opened, "Illegal connection...", failed} << none << true;
    addCase('K', 1, F::BadReplyCrc)
        << QStringList{opened, damaged("CRC error:"), failed} << none << true;
    // The connect reply carries no status: nothing to fail.
    addCase('K', 1, F::FailingStatus) << connected << on(kTargetAndFlash) << true;
    addCase('K', 1, F::BoardGone) << QStringList{opened, kRemoved, failed} << none << false;
    addCase('K', 1, F::Latency) << connected << on(kTargetAndFlash) << true;
}

void OpenAndCheckFaultsTest::openUnderFaults()
{
    QFETCH(bool, leftOpen);
    runCase(Operation::Open, [leftOpen](Bench &bench) {
        QCOMPARE(bench.window().device().isOpen(), leftOpen);
        QCOMPARE(bench.window().worker().isRunning(), leftOpen);
    });
}

void OpenAndCheckFaultsTest::flashCheckUnderFaults_data()
{
    addMatrixColumns();

    const QString image = crcText(codeImage());
    const QStringList gap = {"", ""};
    const QString bad = "Check programmer flash CRC is NG...";
    const QStringList passed = gap + QStringList{"Check CRC:" + image, "Write spi flash OK!",
                                                 "Check programmer flash CRC is OK..."};

    FrameRows rows;
    rows.before = gap;
    rows.damagedCrc = QStringList{damaged("CRC error:")};
    rows.failing = QStringList{"Read crc:" + image};
    rows.after = QStringList{bad};
    rows.ok = passed;
    rows.failed = rows.passed = on(kTargetAndFlash);
    addFrameRows('I', 1, rows);
}

QTEST_MAIN(OpenAndCheckFaultsTest)
#include "test_faults_open_check.moc"
