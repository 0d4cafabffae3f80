// Download to the programmer's flash with each fault switch on the first, a middle and the last
// image block, the message block, and both flash checks.

#include "FaultBench.h"

#include <QtTest>

using namespace faultbench;

class DownloadFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { unplugEverything(); }
    void cleanup() { unplugEverything(); }

    void downloadUnderFaults_data();
    void downloadUnderFaults() { runCase(Operation::Download); }
};

// Blocks go to 0x10000, 0x11000 and 0x12000 (the short one), the message block to 0. Block
// replies are only validated, so a failing status in one passes; a damaged CRC is logged with
// the block write's own label. The buttons come back whatever happened.
void DownloadFaultsTest::downloadUnderFaults_data()
{
    addMatrixColumns();

    const QString image = hex8(referenceCrc(codeImage()));
    const QByteArray message = messageBlock();
    const QString record = hex8(referenceCrc(message.left(504)));
    const QString recordCheck = hex8(referenceCrc(message));

    const QStringList started = {kTimer, "Start to download ..."};
    const QStringList written = started + QStringList{"Download end!", kTimer};
    const QStringList checked =
        written + QStringList{"Check CRC:" + image, "Write spi flash OK!", "Check crc pass.",
                              "Save message to flash", "Message to crc:" + record};
    const QStringList ok = checked + QStringList{"Check CRC:" + recordCheck,
                                                 "Write spi flash OK!",
                                                 "Check message data CRC pass.",
                                                 kTimer,
                                                 "",
                                                 "Download to the programmer flash is OK!!!!!!"};
    const QStringList fail = {"", "Download to the programmer flash is fail....."};
    const QString writeCrc = damaged("Write Eflash CRC:");
    const ButtonSets buttons = on(kTargetAndFlash);

    using F = FaultKind;
    addCase('H', 1, F::NoReply) << started + QStringList{"NG, Addr : 0x10000-2"} + fail << buttons;
    addCase('H', 1, F::LateReply) << ok << buttons;
    addCase('H', 1, F::WrongLength)
        << started + QStringList{"NG, Addr : 0x10000-3"} + fail << buttons;
    addCase('H', 1, F::WrongMarker)
        << started + QStringList{"NG, Addr : 0x10000-3"} + fail << buttons;
    addCase('H', 1, F::BadReplyCrc)
        << started + QStringList{writeCrc, "NG, Addr : 0x10000-4"} + fail << buttons;
    addCase('H', 1, F::FailingStatus) << ok << buttons;
    addCase('H', 1, F::BoardGone) << started + QStringList{kRemoved, "NG, Addr : 0x10000-2"} + fail
                                  << buttons;
    addCase('H', 1, F::Latency) << ok << buttons;

    addCase('H', 2, F::NoReply) << started + QStringList{"NG, Addr : 0x11000-2"} + fail << buttons;
    addCase('H', 2, F::LateReply) << ok << buttons;
    addCase('H', 2, F::WrongLength)
        << started + QStringList{"NG, Addr : 0x11000-3"} + fail << buttons;
    addCase('H', 2, F::WrongMarker)
        << started + QStringList{"NG, Addr : 0x11000-3"} + fail << buttons;
    addCase('H', 2, F::BadReplyCrc)
        << started + QStringList{writeCrc, "NG, Addr : 0x11000-4"} + fail << buttons;
    addCase('H', 2, F::FailingStatus) << ok << buttons;
    addCase('H', 2, F::BoardGone) << started + QStringList{kRemoved, "NG, Addr : 0x11000-2"} + fail
                                  << buttons;
    addCase('H', 2, F::Latency) << ok << buttons;

    addCase('H', 3, F::NoReply) << started + QStringList{"NG, Addr : 0x12000-2"} + fail << buttons;
    addCase('H', 3, F::LateReply) << ok << buttons;
    addCase('H', 3, F::WrongLength)
        << started + QStringList{"NG, Addr : 0x12000-3"} + fail << buttons;
    addCase('H', 3, F::WrongMarker)
        << started + QStringList{"NG, Addr : 0x12000-3"} + fail << buttons;
    addCase('H', 3, F::BadReplyCrc)
        << started + QStringList{writeCrc, "NG, Addr : 0x12000-4"} + fail << buttons;
    addCase('H', 3, F::FailingStatus) << ok << buttons;
    addCase('H', 3, F::BoardGone) << started + QStringList{kRemoved, "NG, Addr : 0x12000-2"} + fail
                                  << buttons;
    addCase('H', 3, F::Latency) << ok << buttons;

    // The message block.
    const QString record0 = "Write SPI Flash, Addr : 0x0";
    addCase('H', 4, F::NoReply) << checked + QStringList{record0 + "-2"} + fail << buttons;
    addCase('H', 4, F::LateReply) << ok << buttons;
    addCase('H', 4, F::WrongLength) << checked + QStringList{record0 + "-3"} + fail << buttons;
    addCase('H', 4, F::WrongMarker) << checked + QStringList{record0 + "-3"} + fail << buttons;
    addCase('H', 4, F::BadReplyCrc)
        << checked + QStringList{writeCrc, record0 + "-4"} + fail << buttons;
    addCase('H', 4, F::FailingStatus) << ok << buttons;
    addCase('H', 4, F::BoardGone) << checked + QStringList{kRemoved, record0 + "-2"} + fail
                                  << buttons;
    addCase('H', 4, F::Latency) << ok << buttons;

    // The image check.
    addCase('I', 1, F::NoReply) << written + fail << buttons;
    addCase('I', 1, F::LateReply) << ok << buttons;
    addCase('I', 1, F::WrongLength) << written + fail << buttons;
    addCase('I', 1, F::WrongMarker) << written + fail << buttons;
    addCase('I', 1, F::BadReplyCrc)
        << written + QStringList{damaged("CRC error:")} + fail << buttons;
    addCase('I', 1, F::FailingStatus)
        << written + QStringList{"Read crc:" + image} + fail << buttons;
    addCase('I', 1, F::BoardGone) << written + QStringList{kRemoved} + fail << buttons;
    addCase('I', 1, F::Latency) << ok << buttons;

    // The message block's check.
    addCase('I', 2, F::NoReply) << checked + fail << buttons;
    addCase('I', 2, F::LateReply) << ok << buttons;
    addCase('I', 2, F::WrongLength) << checked + fail << buttons;
    addCase('I', 2, F::WrongMarker) << checked + fail << buttons;
    addCase('I', 2, F::BadReplyCrc)
        << checked + QStringList{damaged("CRC error:")} + fail << buttons;
    addCase('I', 2, F::FailingStatus)
        << checked + QStringList{"Read crc:" + recordCheck} + fail << buttons;
    addCase('I', 2, F::BoardGone) << checked + QStringList{kRemoved} + fail << buttons;
    addCase('I', 2, F::Latency) << ok << buttons;
}

QTEST_MAIN(DownloadFaultsTest)
#include "test_faults_download.moc"
