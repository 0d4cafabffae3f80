#include "CommandFrame.h"
#include "ConnectReply.h"
#include "Crc32.h"
#include "RecordingFrontEnd.h"
#include "ReplyCheck.h"
#include "TargetIds.h"

#include <QtTest>

#include <algorithm>
#include <vector>

using namespace zq::protocol;

namespace
{

QByteArray bytesOf(const uint8_t *data, int count)
{
    return QByteArray(reinterpret_cast<const char *>(data), count);
}

// A buffer full of what an earlier, longer frame might have left behind.
std::vector<uint8_t> dirtyBuffer()
{
    return std::vector<uint8_t>(kMaxFrameLength + 50, 0xEE);
}

// A 13-byte reply: marker, value (4..7), status (8), CRC of 0..8 in 9..12.
std::vector<uint8_t> reply13(uint8_t marker, uint32_t value, uint8_t status)
{
    std::vector<uint8_t> r{0x00,
                           0x00,
                           marker,
                           0x00,
                           uint8_t(value >> 24),
                           uint8_t(value >> 16),
                           uint8_t(value >> 8),
                           uint8_t(value),
                           status};
    const uint32_t crc = zq::crc32(r.data(), r.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        r.push_back(uint8_t(crc >> shift));
    return r;
}

} // namespace

class ProtocolFramesTest : public QObject
{
    Q_OBJECT
private slots:
    // Expected frames were computed apart from this code (register 0, no final inversion).
    void fixedFramesAreByteExactAndUnnamedBytesZero()
    {
        auto frame = dirtyBuffer();
        QCOMPARE(buildCheckFrame(frame.data(), 'I', 0x10000, 0x1234, 0xDEADBEEF), 36);
        QCOMPARE(bytesOf(frame.data(), 36),
                 QByteArray::fromHex("AA5549000024000100000000 1234DEADBEEF"
                                     "0000000000000000000000000000 3D4BFC61"));
        QCOMPARE(frame[36], uint8_t(0xEE)); // nothing written past the frame

        frame = dirtyBuffer();
        startFixedFrame(frame.data(), 'K');
        frame[3] = 'Z';
        frame[4] = 'Q';
        QCOMPARE(sealFixedFrame(frame.data()), 36);
        QCOMPARE(bytesOf(frame.data(), 36),
                 QByteArray::fromHex("AA554B5A51000000000000000000000000000000000000000000000000"
                                     "000000549F0F79"));
    }

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

    void blockFramesAreByteExact()
    {
        auto frame = dirtyBuffer();
        QCOMPARE(buildBlockFrame(frame.data(), 'H', 0x10000, nullptr, 0), 14);
        QCOMPARE(bytesOf(frame.data(), 14), QByteArray::fromHex("AA554800000E00010000 C235932F"));

        frame = dirtyBuffer();
        const uint8_t three[] = {1, 2, 3};
        QCOMPARE(buildBlockFrame(frame.data(), 'F', 0x08001000, three, 3), 17);
        QCOMPARE(bytesOf(frame.data(), 17),
                 QByteArray::fromHex("AA5546000011 08001000 010203 FA8D472B"));

        // 22 data bytes: the CRC covers bytes 0..31, and the two bytes sent after it are zero
        // even where the buffer held other bytes.
        frame = dirtyBuffer();
        const std::vector<uint8_t> block(22, 0x5A);
        QCOMPARE(buildBlockFrame(frame.data(), 'J', 0x2000, block.data(), 22), 38);
        QCOMPARE(bytesOf(frame.data(), 38), QByteArray::fromHex("AA554A000024 00002000") +
                                                QByteArray(22, 0x5A) +
                                                QByteArray::fromHex("F5C5513C 0000"));
    }

    void repliesAreCheckedForLengthMarkerAndCrc()
    {
        zq::test::RecordingFrontEnd frontEnd;
        const ReplyRule rule{13, ReplyRule::Length::Exact, 'Y', "CRC error:"};
        auto good = reply13('Y', 0x0000ABCD, 0);
        QCOMPARE(checkReply(good.data(), 13, rule, frontEnd), 0);
        QCOMPARE(replyValue(good.data()), 0x0000ABCDu);
        QCOMPARE(replyStatus(good.data()), uint8_t(0));

        // Right length and marker, wrong CRC: -4 and the line with both CRCs.
        std::vector<uint8_t> bad{0, 0, 'Y', 0, 0, 0, 0xAB, 0xCD, 0, 0x12, 0x34, 0x56, 0x78};
        QCOMPARE(checkReply(bad.data(), 13, rule, frontEnd), -4);
        QCOMPARE(frontEnd.log, QStringList{"CRC error:0x1D34B7E6,0x12345678"});

        // Wrong length or marker: -3 and nothing logged, whatever the CRC.
        frontEnd.log.clear();
        good.push_back(0);
        QCOMPARE(checkReply(good.data(), 12, rule, frontEnd), -3);
        QCOMPARE(checkReply(good.data(), 14, rule, frontEnd), -3);
        QCOMPARE(checkReply(bad.data(), 12, rule, frontEnd), -3);
        QCOMPARE(checkReply(bad.data(), 14, rule, frontEnd), -3);
        auto otherMarker = reply13('X', 0, 0);
        QCOMPARE(checkReply(otherMarker.data(), 13, rule, frontEnd), -3);
        QVERIFY(frontEnd.log.isEmpty());

        // A command without a CRC line still fails on the CRC, silently.
        const ReplyRule silent{13, ReplyRule::Length::Exact, 'Y', nullptr};
        QCOMPARE(checkReply(bad.data(), 13, silent, frontEnd), -4);
        QVERIFY(frontEnd.log.isEmpty());
    }

    void atLeastRuleReadsTheCrcAtItsPlace()
    {
        zq::test::RecordingFrontEnd frontEnd;
        const ReplyRule rule{13, ReplyRule::Length::AtLeast, 'Q', "SWD init CRC:"};
        auto reply = reply13('Q', 0x5A3C3180, 0);
        reply.resize(64, 0x77); // trailing bytes are not covered
        QCOMPARE(checkReply(reply.data(), 64, rule, frontEnd), 0);
        QCOMPARE(checkReply(reply.data(), 13, rule, frontEnd), 0);
        QCOMPARE(checkReply(reply.data(), 12, rule, frontEnd), -3);
        QCOMPARE(checkReply(reply.data(), 0, rule, frontEnd), -3);
        reply[12] ^= 1;
        QCOMPARE(checkReply(reply.data(), 20, rule, frontEnd), -4);
        QCOMPARE(frontEnd.log.size(), 1);
        QVERIFY(frontEnd.log[0].startsWith("SWD init CRC:0x"));
    }

    void connectRepliesDecodeByMode()
    {
        uint8_t reply[36] = {};
        reply[3] = 0x25;
        reply[4] = 0x01;
        reply[5] = 0x28;
        reply[18] = 0x24;
        reply[19] = 0x11;
        reply[20] = 0x30;
        reply[7] = 0x00;
        reply[8] = 0x00;
        reply[9] = 0x01;
        const uint8_t mcu[] = {0x12, 0x34, 0x56, 0x78};
        const uint8_t id[] = {0x9A, 0xBC, 0xDE, 0xF0};
        std::copy(mcu, mcu + 4, reply + 14);
        std::copy(id, id + 4, reply + 22);

        reply[2] = ';';
        ConnectReply normal = decodeConnectReply(reply);
        QCOMPARE(normal.connectionMode, int(ConnectReply::NormalWork));
        QCOMPARE(normal.appVersion, 0x20250128u);
        QCOMPARE(normal.bootVersion, 0x20241130u);
        QCOMPARE(normal.boardMcu, 0x12345678u);
        QCOMPARE(normal.boardId, 0x9ABCDEF0u);
        QCOMPARE(normal.flashId, 0x000001u);

        reply[2] = '[';
        ConnectReply update = decodeConnectReply(reply);
        QCOMPARE(update.connectionMode, int(ConnectReply::UpdateMcuCode));
        QCOMPARE(update.bootVersion, 0x20250128u);
        QCOMPARE(update.appVersion, 0x20241130u);

        reply[2] = '+';
        ConnectReply boot = decodeConnectReply(reply);
        QCOMPARE(boot.connectionMode, int(ConnectReply::UpdateBoot));
        QCOMPARE(boot.bootVersion, 0x20250128u);

        reply[7] = 0xEF;
        reply[8] = 0x40;
        reply[9] = 0x18;
        reply[2] = 'K';
        ConnectReply unknown = decodeConnectReply(reply);
        QCOMPARE(unknown.connectionMode, int(ConnectReply::UnknownMode));
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
