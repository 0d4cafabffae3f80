#include "RecordingFrontEnd.h"
#include "Replies.h"
#include "common/Crc32.h"
#include "protocol/CommandFrame.h"
#include "protocol/CommandSet.h"
#include "protocol/TargetIds.h"

#include <QtTest>

#include <algorithm>
#include <vector>

using namespace zq::protocol;

namespace
{

// A buffer full of what an earlier, longer frame might have left behind.
std::vector<uint8_t> dirtyBuffer()
{
    return std::vector<uint8_t>(kMaxFrameLength + 50, 0xEE);
}

} // namespace

class ProtocolFramesTest : public QObject
{
    Q_OBJECT
private slots:
    void blockFrameLengthsAvoidTheFixedFormsLength()
    {
        struct Case {
            int data;
            int sent;
        };
        const Case cases[] = {{0, 14}, {1, 15}, {21, 35}, {22, 38}, {23, 37}, {4096, 4110}};
        for (const Case &c : cases) {
            auto frame = dirtyBuffer();
            const std::vector<uint8_t> data(size_t(c.data), 0x5A);
            const int sent = buildBlockFrame(frame.data(), 'J', 0x2000, data.data(), c.data);
            QCOMPARE(sent, c.sent);
            const uint32_t lengthField = uint32_t(frame[3]) << 16 | frame[4] << 8 | frame[5];
            QCOMPARE(lengthField, uint32_t(c.data + 14)); // the field keeps the true length
            const uint32_t crc = zq::crc32(frame.data(), size_t(c.data + 10));
            const uint8_t *at = frame.data() + c.data + 10;
            QCOMPARE(uint32_t(at[0]) << 24 | at[1] << 16 | at[2] << 8 | at[3], crc);
        }
    }

    // The CRC line's computed value was worked out apart from this code.
    void replyCrcMismatchIsLoggedOnlyForAWellFormedReply()
    {
        zq::test::RecordingFrontEnd frontEnd;
        const ReplyRule rule{13, ReplyRule::Length::Exact, 'Y', "CRC error:"};
        const uint8_t bad[14] = {0, 0, 'Y', 0, 0, 0, 0xAB, 0xCD, 0, 0x12, 0x34, 0x56, 0x78, 0};
        QCOMPARE(checkReply(bad, 12, rule, frontEnd), -3);
        QCOMPARE(checkReply(bad, 14, rule, frontEnd), -3);
        QVERIFY(frontEnd.log.isEmpty());
        QCOMPARE(checkReply(bad, 13, rule, frontEnd), -4);
        QCOMPARE(frontEnd.log, QStringList{"CRC error:0x1D34B7E6,0x12345678"});
    }

    void connectRepliesDecodeByMode()
    {
        // Running version 0x250128, the other 0x241130, board MCU 0x12345678, id 0x9ABCDEF0.
        const auto decode = [](char mode, uint32_t flashId) {
            const QByteArray reply =
                zq::test::connectReply(mode, 0x250128, 0x241130, flashId, 0x12345678, 0x9ABCDEF0);
            return decodeConnectReply(reinterpret_cast<const uint8_t *>(reply.constData()));
        };
        const ConnectReply normal = decode(';', 0x000001);
        QCOMPARE(normal.connectionMode, ConnectionMode::NormalWork);
        QCOMPARE(normal.appVersion, 0x20250128u);
        QCOMPARE(normal.bootVersion, 0x20241130u);
        QCOMPARE(normal.boardMcu, 0x12345678u);
        QCOMPARE(normal.boardId, 0x9ABCDEF0u);
        QCOMPARE(normal.flashId, 0x000001u);

        const ConnectReply update = decode('[', 0x000001);
        QCOMPARE(update.connectionMode, ConnectionMode::UpdateMcuCode);
        QCOMPARE(update.bootVersion, 0x20250128u);
        QCOMPARE(update.appVersion, 0x20241130u);

        const ConnectReply boot = decode('+', 0x000001);
        QCOMPARE(boot.connectionMode, ConnectionMode::UpdateBoot);
        QCOMPARE(boot.bootVersion, 0x20250128u);

        const ConnectReply unknown = decode('K', 0xEF4018);
        QCOMPARE(unknown.connectionMode, ConnectionMode::Unknown);
        QCOMPARE(unknown.modeByte, uint8_t('K'));
        QCOMPARE(unknown.flashId, 0xEF4018u);
    }

    void targetIdTableMapsBothWays()
    {
        const uint32_t ids[] = {0x5A3C5102, 0x5A3C2400, 0x5A3C3180,
                                0x5A3C4270, 0x5A3C4360, 0x5A3C6050};
        for (int index = 1; index <= 6; ++index) {
            QCOMPARE(targetIdForIndex(index), ids[index - 1]);
            QCOMPARE(indexForTargetId(ids[index - 1]), index);
        }
        for (int outside : {0, -1, 7, 1000})
            QCOMPARE(targetIdForIndex(outside), kNoTargetId);
        QCOMPARE(indexForTargetId(0x5A3C0000), 0);
        QCOMPARE(indexForTargetId(0x12345678), 0);
        QCOMPARE(indexForTargetId(0), 0);
        QCOMPARE(mcuTypeName(3), QString("ZQ318"));
        QCOMPARE(mcuTypeName(0), QString("ZQ0000"));
        QVERIFY(mcuTypeName(7).isEmpty());
    }
};

QTEST_APPLESS_MAIN(ProtocolFramesTest)
#include "test_protocol_frames.moc"
