#include "RecordingFrontEnd.h"
#include "Replies.h"
#include "ScriptedWorker.h"
#include "common/Crc32.h"
#include "frontend/NumberText.h"
#include "protocol/CommandSet.h"
#include "protocol/TargetIds.h"
#include "usb/UsbBurnCtrl.h"

#include <QtTest>

#include <functional>
#include <memory>
#include <vector>

using namespace zq::protocol;
using namespace zq::test;

namespace
{

// One programmer stand-in, one front end and the command set under test; the transmit buffer
// starts full of stale bytes so frames must not depend on what it held.
struct Bench {
    USB_BURN_CTRL ctrl;
    RecordingFrontEnd frontEnd;
    ScriptedWorker worker{ctrl};
    CommandSet commands{ctrl, frontEnd};

    Bench() { std::fill(std::begin(ctrl.txBuffer), std::end(ctrl.txBuffer), uint8_t(0xEE)); }
    QByteArray lastFrame() const
    {
        const auto frames = worker.frames();
        return frames.isEmpty() ? QByteArray() : frames.last();
    }
};

using Command = std::function<int(CommandSet &)>;

struct CommandCase {
    const char *name;
    char marker;
    const char *crcLabel; // null: no line on a CRC mismatch
    Command run;
};

std::vector<CommandCase> thirteenByteCommands()
{
    static const uint8_t block[4] = {1, 2, 3, 4};
    return {
        {"WRITE_SPIFLASH", 'X', "Write Eflash CRC:",
         [](CommandSet &c) { return c.CMD_WRITE_SPIFLASH(block, 0x10000, 4); }},
        {"CHECK_SPIFLASH", 'Y',
         "CRC error:", [](CommandSet &c) { return c.CMD_CHECK_SPIFLASH(0, 0, 16); }},
        {"UPDATE_FLASH", 'Z', nullptr,
         [](CommandSet &c) { return c.CMD_UPDATE_FLASH(block, 0, 4); }},
        {"CHECK_EFLASH", '\\',
         "CRC error:", [](CommandSet &c) { return c.CMD_CHECK_EFLASH(0, 0, 16); }},
        {"USB_BOOT", '_', "REQ CRC:", [](CommandSet &c) { return c.CMD_USB_BOOT(0); }},
        {"SWD_WRITE", 'V', nullptr,
         [](CommandSet &c) { return c.CMD_SWD_WRITE(block, 0x08000000, 4); }},
        {"SWD_CHECK", 'W', "CRC error:", [](CommandSet &c) { return c.CMD_SWD_CHECK(0, 0, 16); }},
    };
}

QString crcLine(const char *label, const QByteArray &reply)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(reply.constData());
    const uint32_t computed = zq::crc32(bytes, 9);
    const uint32_t carried =
        uint32_t(bytes[9]) << 24 | bytes[10] << 16 | bytes[11] << 8 | bytes[12];
    return QString(label) + zq::toHexText(computed, 8) + "," + zq::toHexText(carried, 8);
}

} // namespace

class CommandSetTest : public QObject
{
    Q_OBJECT
private slots:
    // Frames as the programmer must receive them; CRCs were computed apart from this code.
    void framesAreByteExact()
    {
        struct FrameCase {
            QByteArray reply;
            Command run;
            const char *hex;
        };
        static const std::vector<uint8_t> three{1, 2, 3};
        static const std::vector<uint8_t> block22(22, 0x5A);
        ConnectReply identity;
        const FrameCase cases[] = {
            {connectReply(';', 0, 0, 0, 0, 0),
             [&](CommandSet &c) { return c.CMD_CONNECT(identity); },
             "AA554B5A51000000000000000000000000000000000000000000000000000000549F0F79"},
            {reply13('Y'),
             [](CommandSet &c) { return c.CMD_CHECK_SPIFLASH(0xDEADBEEF, 0x10000, 0x1234); },
             "AA5549000024000100000000 1234DEADBEEF 0000000000000000000000000000 3D4BFC61"},
            {reply13('\\'), [](CommandSet &c) { return c.CMD_CHECK_EFLASH(0x01020304, 0, 0x8000); },
             "AA554C000024000000000000 800001020304 0000000000000000000000000000 20018380"},
            {reply13('W'),
             [](CommandSet &c) { return c.CMD_SWD_CHECK(0xCAFEF00D, 0x08000000, 4097); },
             "AA5547000024080000000000 1001CAFEF00D 0000000000000000000000000000 2B1A8B41"},
            {reply13('_'), [](CommandSet &c) { return c.CMD_USB_BOOT(1); },
             "AA554F757342010000000000000000000000000000000000000000000000000082343197"},
            {swdInitReply(0x5A3C3180),
             [](CommandSet &c) {
                 return c.CMD_SWD_INIT(0, {5, true});
             },
             "AA55415357443000000000020000000000000000000000000000000000000000DEEEEF44"},
            {swdInitReply(0),
             [](CommandSet &c) {
                 return c.CMD_SWD_INIT(1, {1, true}, 0x11223344);
             },
             "AA55415357443111223344015000000000000000000000000000000000000000AE3F4638"},
            {swdInitReply(0),
             [](CommandSet &c) {
                 return c.CMD_SWD_INIT(1, {-1, false});
             },
             "AA5541535744310000000000550000000000000000000000000000000000000023839382"},
            {reply13('X'), [](CommandSet &c) { return c.CMD_WRITE_SPIFLASH(nullptr, 0x10000, 0); },
             "AA554800000E00010000C235932F"},
            {reply13('V'),
             [](CommandSet &c) { return c.CMD_SWD_WRITE(three.data(), 0x08001000, 3); },
             "AA554600001108001000010203FA8D472B"},
            {reply13('Z'),
             [](CommandSet &c) { return c.CMD_UPDATE_FLASH(block22.data(), 0x2000, 22); },
             "AA554A00002400002000 5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A F5C5513C0000"},
        };
        for (const FrameCase &c : cases) {
            Bench bench;
            bench.worker.reply(c.reply);
            QCOMPARE(c.run(bench.commands), 0);
            QCOMPARE(bench.lastFrame().toHex().toUpper(),
                     QByteArray::fromHex(c.hex).toHex().toUpper());
        }
    }

    void wrongMarkerOrLengthGivesMinusThreeSilently()
    {
        for (const CommandCase &c : thirteenByteCommands()) {
            Bench bench;
            const QByteArray good = reply13(c.marker);
            bench.worker.reply(reply13(char(c.marker + 1)));
            bench.worker.reply(good.left(12));
            bench.worker.reply(good + '\0');
            for (int i = 0; i < 3; ++i)
                QVERIFY2(c.run(bench.commands) == -3, c.name);
            QVERIFY2(bench.frontEnd.log.isEmpty(), c.name);
        }
    }

    void crcMismatchGivesMinusFourAndTheCommandsLine()
    {
        for (const CommandCase &c : thirteenByteCommands()) {
            Bench bench;
            const QByteArray bad = withBadCrc(reply13(c.marker, 0x0000ABCD, 0));
            bench.worker.reply(bad);
            QVERIFY2(c.run(bench.commands) == -4, c.name);
            const QStringList expected =
                c.crcLabel ? QStringList{crcLine(c.crcLabel, bad)} : QStringList{};
            QCOMPARE(bench.frontEnd.log, expected);
        }
    }

    void blockThatCannotBeFramedIsNotSent()
    {
        const std::vector<uint8_t> block(4097, 0);
        Bench bench;
        QCOMPARE(bench.commands.CMD_SWD_WRITE(block.data(), 0, 4097), -1);
        QCOMPARE(bench.commands.CMD_UPDATE_FLASH(block.data(), 0, -1), -1);
        QVERIFY(bench.worker.frames().isEmpty());
    }

    void checksReportTheProgrammersCrcAndStatus()
    {
        Bench bench;
        bench.worker.reply(reply13('\\', 0x89ABCDEF, 0));
        bench.worker.reply(reply13('W', 0x00001111, 3));
        QCOMPARE(bench.commands.CMD_CHECK_EFLASH(0x89ABCDEF, 0, 100), 0);
        QCOMPARE(bench.commands.CMD_SWD_CHECK(0x2222, 0, 100), 3);
        QCOMPARE(bench.frontEnd.log, (QStringList{"Read crc:0x89ABCDEF", "Read crc:0x00001111"}));
    }

    void spiFlashCheckFollowsProgressToTheVerdict()
    {
        Bench bench;
        bench.worker.reply(reply13('Y', 0x10000, 1));
        bench.worker.reply(reply13('Y', 0x20000, 1), 20);
        bench.worker.reply(reply13('Y', 0x0000CAFE, 0));
        QCOMPARE(bench.commands.CMD_CHECK_SPIFLASH(0x0000CAFE, 0x10000, 0x30000), 0);
        QCOMPARE(bench.frontEnd.log, (QStringList{"Check CRC:0x0000CAFE", "Write spi flash OK!"}));
        QCOMPARE(bench.frontEnd.progress, (QList<int>{0, 33, 66, 100}));
        QCOMPARE(bench.worker.frames().size(), 1); // all replies answer one frame
        QCOMPARE(bench.worker.readRequests(), 3);
    }

    void spiFlashCheckReturnsAFailedStatus()
    {
        Bench bench;
        bench.worker.reply(reply13('Y', 0x100, 1));
        bench.worker.reply(reply13('Y', 0x00001111, 2));
        QCOMPARE(bench.commands.CMD_CHECK_SPIFLASH(0x2222, 0, 0x200), 2);
        QCOMPARE(bench.frontEnd.log, QStringList{"Read crc:0x00001111"});
        QCOMPARE(bench.frontEnd.progress, (QList<int>{0, 50}));
    }

    // Percentages of large regions need more than 32 bits; an empty region has none.
    void spiFlashProgressNeverWrapsOrDividesByZero()
    {
        Bench bench;
        bench.worker.reply(reply13('Y', 0xE0000000, 1));
        bench.worker.reply(reply13('Y', 0xFFFFFFFF, 1));
        bench.worker.reply(reply13('Y', 0, 0));
        QCOMPARE(bench.commands.CMD_CHECK_SPIFLASH(0, 0, 0xF0000000), 0);
        QCOMPARE(bench.frontEnd.progress, (QList<int>{0, 93, 100, 100}));

        Bench empty;
        empty.worker.reply(reply13('Y', 5, 1));
        empty.worker.reply(reply13('Y', 0, 0));
        QCOMPARE(empty.commands.CMD_CHECK_SPIFLASH(0, 0, 0), 0);
        QCOMPARE(empty.frontEnd.progress, (QList<int>{0, 0, 100}));
    }

    void spiFlashCheckStopsAtABadProgressReply()
    {
        Bench bench;
        bench.worker.reply(reply13('Y', 0x100, 1));
        const QByteArray bad = withBadCrc(reply13('Y', 0x200, 1));
        bench.worker.reply(bad);
        QCOMPARE(bench.commands.CMD_CHECK_SPIFLASH(0, 0, 0x400), -4);
        QCOMPARE(bench.frontEnd.log, QStringList{crcLine("CRC error:", bad)});
        QCOMPARE(bench.worker.readRequests(), 2);
    }

    // Each reply gets its own 2.2 s; silence after progress still ends the check.
    void spiFlashCheckGivesUpWhenProgressStops()
    {
        Bench bench;
        bench.worker.reply(reply13('Y', 0x100, 1));
        bench.worker.stayQuiet();
        QCOMPARE(bench.commands.CMD_CHECK_SPIFLASH(0, 0, 0x400), -2);
        QCOMPARE(bench.frontEnd.progress, (QList<int>{0, 25}));
        QVERIFY(bench.frontEnd.processEventsCalls >= 220); // events ran at least every 10 ms
        QVERIFY(bench.frontEnd.log.isEmpty());
    }

    // The command set keeps the target the board found; it shows nothing itself.
    void swdInitKeepsTheTargetsId()
    {
        for (const uint32_t id : {0x5A3C3180u, 0x5A3C6050u, 0x12345678u}) {
            Bench bench;
            bench.frontEnd.mcuType = 4;
            bench.worker.reply(swdInitReply(id));
            QCOMPARE(bench.commands.CMD_SWD_INIT(0, {}), 0);
            QCOMPARE(bench.commands.lastTargetId(), id);
            QVERIFY(bench.frontEnd.mcuTypeIndexesSet.isEmpty());
            QCOMPARE(bench.frontEnd.log,
                     (QStringList{"Target init ok...", "Target type:" + zq::toHexText(id, 8)}));
        }
    }

    void swdInitFailureAndRunReports()
    {
        Bench bench;
        bench.worker.reply(swdInitReply(0x5A3C3180, 1));
        bench.worker.reply(swdInitReply(0, 0));
        bench.worker.reply(swdInitReply(0, 7));
        QCOMPARE(bench.commands.CMD_SWD_INIT(0, {}), -3);
        QCOMPARE(bench.commands.lastTargetId(), zq::protocol::kNoTargetId);
        QCOMPARE(bench.commands.CMD_SWD_INIT(1, {}), 0);
        QVERIFY(!bench.commands.lastRunFailed());
        QCOMPARE(bench.commands.CMD_SWD_INIT(1, {}), 0);
        QVERIFY(bench.commands.lastRunFailed());
        QCOMPARE(bench.frontEnd.log,
                 (QStringList{"Target init fail...", "Target run...", "Target run fail..."}));
    }

    // Its length is not checked beyond its own fields: longer passes, shorter never borrows.
    void swdInitReplyLength()
    {
        Bench bench;
        bench.worker.reply(swdInitReply(0x5A3C2400) + QByteArray(20, '\x33'));
        bench.worker.reply(QByteArray::fromHex("0000510000"));
        QCOMPARE(bench.commands.CMD_SWD_INIT(0, {}), 0);
        QCOMPARE(bench.commands.lastTargetId(), 0x5A3C2400u);
        QCOMPARE(bench.commands.CMD_SWD_INIT(0, {}), -3);
        QCOMPARE(bench.commands.lastTargetId(), zq::protocol::kNoTargetId);
        QCOMPARE(bench.frontEnd.log.size(), 2); // the first reply's two lines only

        bench.worker.reply(withBadCrc(swdInitReply(0x5A3C2400)));
        QCOMPARE(bench.commands.CMD_SWD_INIT(0, {}), -4);
        QVERIFY(bench.frontEnd.log.last().startsWith("SWD init CRC:0x"));
        bench.worker.reply(reply13('R'));
        QCOMPARE(bench.commands.CMD_SWD_INIT(0, {}), -3);
    }

    // Decoding itself is pinned apart; here the reply travels and the mode is left to judge.
    void connectTakesASoundReplyWhateverItsMode()
    {
        Bench bench;
        bench.worker.reply(connectReply(';', 0x250128, 0x241130, 0xEF4018, 0x12345678, 0x9ABCDEF0));
        bench.worker.reply(connectReply('K', 0, 0, 0, 0, 0));
        ConnectReply identity;
        QCOMPARE(bench.commands.CMD_CONNECT(identity), 0);
        QCOMPARE(identity.appVersion, 0x20250128u);
        QCOMPARE(identity.boardId, 0x9ABCDEF0u);
        QCOMPARE(bench.commands.CMD_CONNECT(identity), 0);
        QCOMPARE(identity.connectionMode, ConnectionMode::Unknown);
        QVERIFY(bench.frontEnd.log.isEmpty());
    }

    void connectRejectsABrokenReply()
    {
        Bench bench;
        const QByteArray good = connectReply('[', 0x250128, 0, 1, 0, 0);
        bench.worker.reply(good.left(35));
        bench.worker.reply(reply13('['));
        ConnectReply identity;
        identity.boardId = 0x77;
        QCOMPARE(bench.commands.CMD_CONNECT(identity), -3);
        QCOMPARE(bench.commands.CMD_CONNECT(identity), -3);
        QVERIFY(bench.frontEnd.log.isEmpty());

        const QByteArray bad = withBadCrc(good);
        bench.worker.reply(bad);
        QCOMPARE(bench.commands.CMD_CONNECT(identity), -4);
        const auto *bytes = reinterpret_cast<const uint8_t *>(bad.constData());
        const uint32_t carried =
            uint32_t(bytes[32]) << 24 | bytes[33] << 16 | bytes[34] << 8 | bytes[35];
        QCOMPARE(bench.frontEnd.log,
                 QStringList{"CRC error:" + zq::toHexText(zq::crc32(bytes, 32), 8) + "," +
                             zq::toHexText(carried, 8)});
        QCOMPARE(identity.boardId, 0x77u); // untouched by a failed connect
    }
};

QTEST_GUILESS_MAIN(CommandSetTest)
#include "test_command_set.moc"
