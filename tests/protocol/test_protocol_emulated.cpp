#include "RecordingFrontEnd.h"
#include "common/Crc32.h"
#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "frontend/NumberText.h"
#include "protocol/CommandSet.h"
#include "protocol/TargetIds.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <memory>
#include <vector>

using namespace zq::protocol;
using zq::emu::Board;
using zq::emu::EmulatedBus;
using zq::emu::Fault;
using zq::emu::FaultKind;
using zq::test::RecordingFrontEnd;

namespace
{

// The whole road of a command: command set, hand-over, the real worker thread, UsbDevice on the
// emulated transport, and an emulated board on the bus.
struct Rig {
    std::shared_ptr<Board> board = std::make_shared<Board>();
    UsbDevice device{zq::usb::makeEmulatedTransport()};
    USB_BURN_CTRL burnCtrl; // declared after the device: stopped before it goes
    RecordingFrontEnd frontEnd;
    CommandSet commands{burnCtrl, frontEnd};

    Rig()
    {
        const QString path = EmulatedBus::instance().plug(board);
        if (!device.open(path))
            qFatal("the emulated board could not be opened");
        burnCtrl.device = &device;
        burnCtrl.start();
    }

    void arm(const Fault &fault) { board->faults().arm(fault); }

    // The CRC line a reply of the given size in rxBuffer must have produced.
    QString crcLineOfReply(const char *label, int size) const
    {
        const uint8_t *reply = burnCtrl.rxBuffer;
        const int covered = size - 4;
        const uint32_t carried = uint32_t(reply[covered]) << 24 | reply[covered + 1] << 16 |
                                 reply[covered + 2] << 8 | reply[covered + 3];
        return QString(label) + zq::toHexText(zq::crc32(reply, size_t(covered)), 8) + "," +
               zq::toHexText(carried, 8);
    }
};

std::vector<uint8_t> randomImage(int size)
{
    std::vector<uint8_t> image(size_t(size), 0);
    QRandomGenerator generator(20250128);
    for (uint8_t &byte : image)
        byte = uint8_t(generator.generate());
    return image;
}

uint32_t crcOf(const std::vector<uint8_t> &bytes)
{
    return zq::crc32(bytes.data(), bytes.size());
}

} // namespace

class ProtocolEmulatedTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { EmulatedBus::instance().unplugAll(); }
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void connectReadsTheBoardsIdentity()
    {
        Rig rig;
        ConnectReply identity;
        QCOMPARE(rig.commands.CMD_CONNECT(identity), 0);
        const zq::emu::BoardIdentity expected = rig.board->identity();
        QCOMPARE(identity.modeByte, uint8_t(expected.mode));
        QCOMPARE(identity.connectionMode, ConnectionMode::NormalWork);
        QCOMPARE(identity.appVersion, expected.appVersion);
        QCOMPARE(identity.bootVersion, expected.bootVersion);
        QCOMPARE(identity.boardMcu, expected.boardMcu);
        QCOMPARE(identity.boardId, expected.boardId);
        QCOMPARE(identity.flashId, expected.flashId);
        QVERIFY(rig.frontEnd.log.isEmpty());
    }

    void oneMebibyteDownloadRoundTrips()
    {
        Rig rig;
        constexpr uint32_t kCodeAddress = 0x10000;
        constexpr int kBlock = 4096;
        const std::vector<uint8_t> image = randomImage(1 << 20);
        for (int offset = 0; offset < int(image.size()); offset += kBlock) {
            const int result = rig.commands.CMD_WRITE_SPIFLASH(
                image.data() + offset, kCodeAddress + uint32_t(offset), kBlock);
            QVERIFY2(result == 0, qPrintable(QString("block at %1: %2").arg(offset).arg(result)));
        }
        QVERIFY(rig.board->readSpiFlash(kCodeAddress, uint32_t(image.size())) == image);

        const uint32_t crc = crcOf(image);
        QCOMPARE(rig.commands.CMD_CHECK_SPIFLASH(crc, kCodeAddress, uint32_t(image.size())), 0);
        QCOMPARE(rig.frontEnd.log,
                 (QStringList{"Check CRC:" + zq::toHexText(crc, 8), "Write spi flash OK!"}));
        // The board reports every 64 KiB: sixteen steps of a sixteenth, then the verdict.
        QList<int> expected{0};
        for (int step = 1; step <= 16; ++step)
            expected << step * 100 / 16;
        expected << 100;
        QCOMPARE(rig.frontEnd.progress, expected);

        rig.frontEnd.log.clear();
        QCOMPARE(rig.commands.CMD_CHECK_SPIFLASH(crc ^ 1, kCodeAddress, uint32_t(image.size())), 2);
        QCOMPARE(rig.frontEnd.log, QStringList{"Read crc:" + zq::toHexText(crc, 8)});
    }

    // A reply CRC the board spoils gives -4 and the command's own line.
    void spoiledReplyCrcsAreReported()
    {
        Rig rig;
        const std::vector<uint8_t> block(4096, 0x11);
        rig.arm(Fault::every(FaultKind::BadReplyCrc));

        QCOMPARE(rig.commands.CMD_WRITE_SPIFLASH(block.data(), 0x10000, 4096), -4);
        QCOMPARE(rig.frontEnd.log.takeFirst(), rig.crcLineOfReply("Write Eflash CRC:", 13));
        QCOMPARE(rig.commands.CMD_CHECK_SPIFLASH(0, 0x10000, 4096), -4);
        QCOMPARE(rig.frontEnd.log.takeFirst(), rig.crcLineOfReply("CRC error:", 13));
        QCOMPARE(rig.commands.CMD_SWD_INIT(0, {}), -4);
        QCOMPARE(rig.frontEnd.log.takeFirst(), rig.crcLineOfReply("SWD init CRC:", 13));
        QCOMPARE(rig.commands.CMD_SWD_CHECK(0, 0, 4), -4);
        QCOMPARE(rig.frontEnd.log.takeFirst(), rig.crcLineOfReply("CRC error:", 13));
        QCOMPARE(rig.commands.CMD_CHECK_EFLASH(0, 0, 4), -4);
        QCOMPARE(rig.frontEnd.log.takeFirst(), rig.crcLineOfReply("CRC error:", 13));
        ConnectReply identity;
        QCOMPARE(rig.commands.CMD_CONNECT(identity), -4);
        QCOMPARE(rig.frontEnd.log.takeFirst(), rig.crcLineOfReply("CRC error:", 36));
        QCOMPARE(rig.commands.CMD_SWD_WRITE(block.data(), 0, 4096), -4);
        QCOMPARE(rig.commands.CMD_UPDATE_FLASH(block.data(), 0, 4096), -4);
        QVERIFY(rig.frontEnd.log.isEmpty());
        // Last: the board restarts after taking it, and leaves the bus for a while.
        QCOMPARE(rig.commands.CMD_USB_BOOT(0), -4);
        QCOMPARE(rig.frontEnd.log, QStringList{rig.crcLineOfReply("REQ CRC:", 13)});
    }

    void malformedRepliesGiveMinusThreeSilently()
    {
        Rig rig;
        ConnectReply identity;
        rig.arm(Fault::next(FaultKind::WrongLength).onCommand('K'));
        QCOMPARE(rig.commands.CMD_CONNECT(identity), -3);
        rig.arm(Fault::next(FaultKind::WrongMarker).onCommand('G'));
        QCOMPARE(rig.commands.CMD_SWD_CHECK(0, 0, 4), -3);
        rig.arm(Fault::next(FaultKind::WrongLength).onCommand('I'));
        QCOMPARE(rig.commands.CMD_CHECK_SPIFLASH(0, 0, 4), -3);
        rig.arm(Fault::next(FaultKind::WrongLength).onCommand('A'));
        QCOMPARE(rig.commands.CMD_SWD_INIT(0, {}), -3); // 12 bytes never give a target id
        QVERIFY(rig.frontEnd.log.isEmpty());
        QCOMPARE(rig.commands.lastTargetId(), zq::protocol::kNoTargetId);
        QCOMPARE(rig.commands.CMD_CONNECT(identity), 0); // the link is still in step
    }

    void failingChecksReturnTheBoardsStatus()
    {
        Rig rig;
        rig.arm(Fault::next(FaultKind::FailingStatus).onCommand('L'));
        const int status = rig.commands.CMD_CHECK_EFLASH(0, 0, 16);
        QVERIFY(status > 0);
        QCOMPARE(rig.frontEnd.log.size(), 1);
        QVERIFY(rig.frontEnd.log[0].startsWith("Read crc:0x"));

        rig.arm(Fault::next(FaultKind::FailingStatus).onCommand('A'));
        QCOMPARE(rig.commands.CMD_SWD_INIT(0, {}), -3);
        QCOMPARE(rig.frontEnd.log.last(), QString("Target init fail..."));
    }

    // A board that swallows a reply: the command gets -2 and its read is aborted, so the next one
    // is sent and answered. Neither logs anything.
    void silentBoardGivesMinusTwoAndTheLinkGoesOn()
    {
        Rig rig;
        rig.arm(Fault::next(FaultKind::NoReply).onCommand('K'));
        ConnectReply identity;
        QCOMPARE(rig.commands.CMD_CONNECT(identity), -2);
        QCOMPARE(rig.commands.CMD_CONNECT(identity), 0);
        QVERIFY(rig.frontEnd.log.isEmpty());
        QVERIFY(rig.device.isOpen()); // nothing failed on the bus
    }

    // A board that drops off the bus: the write fails, the worker ends, the reply wait runs out.
    void lostBoardGivesMinusTwo()
    {
        Rig rig;
        rig.arm(Fault::next(FaultKind::BoardGone));
        ConnectReply identity;
        QCOMPARE(rig.commands.CMD_CONNECT(identity), -2);
        QVERIFY(!rig.device.isOpen());
        QVERIFY(rig.burnCtrl.wait(5000));
        QVERIFY(rig.frontEnd.log.isEmpty());
    }

    // The reply to a connect that gave up arrives after the drain, while the next command waits
    // for its own reply; it must not pass as that command's reply.
    void lateReplyIsDroppedUnseen()
    {
        qint64 silentConnectMs = 0;
        {
            Rig silent;
            silent.arm(Fault::next(FaultKind::NoReply).onCommand('K'));
            ConnectReply ignored;
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(silent.commands.CMD_CONNECT(ignored), -2);
            silentConnectMs = clock.elapsed();
            silent.device.close(); // ends the read the board never answers
        }
        Rig rig;
        rig.arm(Fault::next(FaultKind::LateReply)
                    .onCommand('K')
                    .withDelay(int(silentConnectMs * 3 / 2)));
        ConnectReply identity;
        QCOMPARE(rig.commands.CMD_CONNECT(identity), -2);
        QCOMPARE(rig.commands.CMD_SWD_INIT(0, {}), 0);
        QCOMPARE(rig.frontEnd.log, (QStringList{"Target init ok...", "Target type:0x5A3C3180"}));
        QCOMPARE(rig.commands.CMD_CONNECT(identity), 0);
    }
};

QTEST_GUILESS_MAIN(ProtocolEmulatedTest)
#include "test_protocol_emulated.moc"
