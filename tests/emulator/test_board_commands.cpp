// The board's side of every command, driven over the emulated bus with hand-built frames.
#include "BoardTalk.h"

#include "emulator/Board.h"

#include <QtTest>

using namespace emutest;
using zq::emu::Board;
using zq::emu::BoardIdentity;
using zq::emu::BoardMode;
using zq::emu::EmulatedBus;
using zq::emu::TargetConfig;

class BoardCommandsTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<Board> board;
    std::shared_ptr<zq::emu::BoardLink> link;

    void plugBoard(const BoardIdentity &identity = {}, const TargetConfig &target = {})
    {
        board = std::make_shared<Board>(identity, target);
        link = EmulatedBus::instance().open(EmulatedBus::instance().plug(board));
        QVERIFY(link);
    }

    // A valid 13-byte reply with the command's marker; returns value and status.
    static std::pair<uint32_t, uint8_t> statusOf(const std::optional<Bytes> &reply, char command)
    {
        if (!reply || reply->size() != 13 || (*reply)[2] != uint8_t(command + 0x10) ||
            !crcHolds(*reply))
            return {0, 0xEE};
        return {bigEndian(*reply, 4), (*reply)[8]};
    }

    std::pair<uint32_t, uint8_t> ask(const Bytes &frame)
    {
        return statusOf(roundTrip(*link, frame), char(frame[2]));
    }

    void writeBlocks(char command, uint32_t base, const Bytes &image)
    {
        for (size_t offset = 0; offset < image.size(); offset += 4096) {
            const size_t count = std::min<size_t>(4096, image.size() - offset);
            const Bytes block(image.begin() + long(offset), image.begin() + long(offset + count));
            QCOMPARE(ask(blockFrame(command, base + uint32_t(offset), block)),
                     std::make_pair(0u, uint8_t(0)));
        }
    }

private slots:
    void cleanup()
    {
        link.reset();
        EmulatedBus::instance().unplugAll();
    }

    void connectReplyCarriesTheIdentityByMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("appFirst");
        QTest::newRow("normal work") << int(BoardMode::Normal) << true;
        QTest::newRow("update of the mcu code") << int(BoardMode::McuUpdate) << false;
        QTest::newRow("update of the boot loader") << int(BoardMode::BootUpdate) << false;
    }

    void connectReplyCarriesTheIdentityByMode()
    {
        QFETCH(int, mode);
        QFETCH(bool, appFirst);
        BoardIdentity identity;
        identity.mode = BoardMode(mode);
        identity.appVersion = 0x20250128;
        identity.bootVersion = 0x20180704;
        identity.boardMcu = 0x11223344;
        identity.boardId = 0xCAFEF00D;
        identity.flashId = 0x000001;
        plugBoard(identity);

        const std::optional<Bytes> reply = roundTrip(*link, connectFrame());
        QVERIFY(reply);
        QCOMPARE(reply->size(), size_t(36));
        QVERIFY(crcHolds(*reply));
        QCOMPARE(int((*reply)[2]), mode);
        const uint32_t first = 0x20000000 | bigEndian(*reply, 3, 3);
        const uint32_t second = 0x20000000 | bigEndian(*reply, 18, 3);
        QCOMPARE(first, appFirst ? 0x20250128u : 0x20180704u);
        QCOMPARE(second, appFirst ? 0x20180704u : 0x20250128u);
        QCOMPARE(bigEndian(*reply, 7, 3), 0x000001u);
        QCOMPARE(bigEndian(*reply, 14), 0x11223344u);
        QCOMPARE(bigEndian(*reply, 22), 0xCAFEF00Du);
    }

    void spiFlashTakesBlocksAndChecksWithProgress()
    {
        plugBoard();
        const Bytes image = pattern(1 << 20, 3);
        writeBlocks('H', 0x10000, image);
        QVERIFY(board->readSpiFlash(0x10000, uint32_t(image.size())) == image);

        // One progress reply per full 64 KiB checked, then the verdict.
        QVERIFY(send(*link, checkFrame('I', 0x10000, uint32_t(image.size()), crcOf(image))));
        for (uint32_t k = 1; k <= 16; ++k)
            QCOMPARE(statusOf(readReply(*link), 'I'), std::make_pair(k * 65536, uint8_t(1)));
        QCOMPARE(statusOf(readReply(*link), 'I'), std::make_pair(crcOf(image), uint8_t(0)));

        // A region shorter than the step gets the verdict alone; a wrong CRC fails it with the
        // CRC the board computed.
        const Bytes head(image.begin(), image.begin() + 5000);
        QCOMPARE(ask(checkFrame('I', 0x10000, 5000, crcOf(head))),
                 std::make_pair(crcOf(head), uint8_t(0)));
        QCOMPARE(ask(checkFrame('I', 0x10000, 5000, crcOf(head) ^ 1)),
                 std::make_pair(crcOf(head), uint8_t(2)));

        // Untouched flash reads erased; the end of the flash is a hard limit.
        QCOMPARE(ask(checkFrame('I', 0, 512, crcOf(Bytes(512, 0xFF)))),
                 std::make_pair(crcOf(Bytes(512, 0xFF)), uint8_t(0)));
        QCOMPARE(ask(checkFrame('I', 0xFFFF00, 0x200, 0)).second, uint8_t(3));
        QCOMPARE(ask(blockFrame('H', 0xFFFFF0, Bytes(32, 0))).second, uint8_t(3));
    }

    void variableFrameOfThirtySixBytesComesAsThirtyEight()
    {
        plugBoard();
        const Bytes data = pattern(22, 9);
        const Bytes frame = blockFrame('H', 0x200, data);
        QCOMPARE(frame.size(), size_t(38));
        QCOMPARE(ask(frame), std::make_pair(0u, uint8_t(0)));
        QVERIFY(board->readSpiFlash(0x200, 22) == data);
        QCOMPARE(ask(blockFrame('H', 0x300, {})), std::make_pair(0u, uint8_t(0)));
    }

    void swdTargetIsProgrammedCheckedAndRun()
    {
        TargetConfig target;
        target.targetId = 0x5A3C4270;
        target.flashSize = 64 * 1024;
        plugBoard({}, target);
        const Bytes image = pattern(10000, 5);

        // Writes before the link is up do nothing.
        QCOMPARE(ask(blockFrame('F', 0, Bytes(16, 0))).second, uint8_t(4));
        QCOMPARE(ask(checkFrame('G', 0, 16, 0)).second, uint8_t(4));

        const std::optional<Bytes> init = roundTrip(*link, swdInitFrame(false, 2));
        QVERIFY(init && init->size() == 13 && (*init)[2] == 'Q' && crcHolds(*init));
        QCOMPARE(bigEndian(*init, 3), 0x5A3C4270u);
        QCOMPARE(int((*init)[7]), 0);
        QCOMPARE(int(board->swdSpeed()), 2);

        writeBlocks('F', 0, image);
        QCOMPARE(ask(checkFrame('G', 0, 10000, crcOf(image))),
                 std::make_pair(crcOf(image), uint8_t(0)));
        QCOMPARE(ask(checkFrame('G', 0, 10000, 0)), std::make_pair(crcOf(image), uint8_t(2)));
        QCOMPARE(ask(blockFrame('F', 64 * 1024 - 8, Bytes(16, 0))).second, uint8_t(3));

        const std::optional<Bytes> run = roundTrip(*link, swdInitFrame(true, 2, true));
        QVERIFY(run && (*run)[2] == 'Q' && crcHolds(*run));
        QCOMPARE(int((*run)[7]), 0);
        QCOMPARE(board->targetRunCount(), 1);
        QVERIFY(board->targetPoweredOff());
        QVERIFY(!board->targetConnected());
        QVERIFY(board->readTargetFlash(0, 10000) == image);

        // Running again without an init reports the failure.
        const std::optional<Bytes> again = roundTrip(*link, swdInitFrame(true));
        QVERIFY(again && crcHolds(*again));
        QCOMPARE(int((*again)[7]), 1);
    }

    void absentTargetFailsInit()
    {
        TargetConfig target;
        target.present = false;
        plugBoard({}, target);
        const std::optional<Bytes> init = roundTrip(*link, swdInitFrame(false));
        QVERIFY(init && crcHolds(*init));
        QCOMPARE(int((*init)[7]), 1);
        QCOMPARE(ask(blockFrame('F', 0, Bytes(16, 0))).second, uint8_t(4));
    }

    void updateWritesTheProgramTheModeTakes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("writesApp");
        QTest::newRow("boot loader takes the application") << int(BoardMode::McuUpdate) << true;
        QTest::newRow("application takes the boot loader") << int(BoardMode::Normal) << false;
        QTest::newRow("boot update takes the boot loader") << int(BoardMode::BootUpdate) << false;
    }

    void updateWritesTheProgramTheModeTakes()
    {
        QFETCH(int, mode);
        QFETCH(bool, writesApp);
        BoardIdentity identity;
        identity.mode = BoardMode(mode);
        plugBoard(identity);
        Bytes image = pattern(9000, 11);
        image[4096] = 0x26;
        image[4097] = 0x07;
        image[4098] = 0x15;

        writeBlocks('J', 0, image);
        QVERIFY((writesApp ? board->appImage() : board->bootImage()) == image);
        QVERIFY((writesApp ? board->bootImage() : board->appImage()).empty());

        // A failed check leaves the reported version alone; a passed one takes the header's.
        QCOMPARE(ask(checkFrame('L', 0, 9000, 0)), std::make_pair(crcOf(image), uint8_t(2)));
        const BoardIdentity before = board->identity();
        QCOMPARE(before.appVersion, identity.appVersion);
        QCOMPARE(before.bootVersion, identity.bootVersion);
        QCOMPARE(ask(checkFrame('L', 0, 9000, crcOf(image))),
                 std::make_pair(crcOf(image), uint8_t(0)));
        const BoardIdentity after = board->identity();
        QCOMPARE(writesApp ? after.appVersion : after.bootVersion, 0x20260715u);
        QCOMPARE(writesApp ? after.bootVersion : after.appVersion,
                 writesApp ? identity.bootVersion : identity.appVersion);

        const std::optional<Bytes> reply = roundTrip(*link, connectFrame());
        QVERIFY(reply);
        const size_t appAt = BoardMode(mode) == BoardMode::Normal ? 3 : 18;
        const size_t bootAt = appAt == 3 ? 18 : 3;
        QCOMPARE(0x20000000 | bigEndian(*reply, writesApp ? appAt : bootAt, 3), 0x20260715u);

        // A new image from offset 0 replaces the old one entirely.
        writeBlocks('J', 0, Bytes(100, 0x42));
        QCOMPARE((writesApp ? board->appImage() : board->bootImage()).size(), size_t(100));
        QCOMPARE(ask(checkFrame('L', 0, 2 << 20, 0)).second, uint8_t(3));
    }

    void malformedFramesAreDroppedWithoutReply()
    {
        plugBoard();
        Bytes badCrc = connectFrame();
        badCrc[35] ^= 1;
        Bytes shortFixed = connectFrame();
        shortFixed.pop_back();
        Bytes unknownLetter = fixedFrame('Z', {'Z', 'Q'});
        Bytes wrongTag = fixedFrame('O', {'u', 's', 'b', 1});
        Bytes lyingLength = blockFrame('H', 0, Bytes(100, 1));
        lyingLength.push_back(0);
        const QList<Bytes> frames = {badCrc,      shortFixed,        unknownLetter, wrongTag,
                                     lyingLength, Bytes{0xAA, 0x55}, Bytes{}};
        for (const Bytes &frame : frames)
            QVERIFY(send(*link, frame));
        // Replies come in order, so the first one read is the connect's if the others gave none.
        const std::optional<Bytes> reply = roundTrip(*link, connectFrame());
        QVERIFY(reply);
        QCOMPARE(reply->size(), size_t(36));
        QCOMPARE(board->readSpiFlash(0, 1), Bytes{0xFF});
    }
};

QTEST_GUILESS_MAIN(BoardCommandsTest)
#include "test_board_commands.moc"
