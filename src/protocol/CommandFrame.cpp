#include "protocol/CommandFrame.h"

#include "common/ByteOrder.h"
#include "common/Crc32.h"
#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"

#include <cstring>

namespace zq::protocol
{

namespace
{

constexpr uint8_t kSync0 = 0xAA;
constexpr uint8_t kSync1 = 0x55;
constexpr int kCrcSize = 4;

void startFrame(uint8_t *frame, uint8_t letter)
{
    frame[0] = kSync0;
    frame[1] = kSync1;
    frame[2] = letter;
}

// Writes the CRC of the first count bytes right after them; returns the frame's length.
int sealAt(uint8_t *frame, int count)
{
    writeBigEndian(frame + count, 4, crc32(frame, size_t(count)));
    return count + kCrcSize;
}

bool lengthFits(int length, const ReplyRule &rule)
{
    if (rule.length == ReplyRule::Length::AtLeast)
        return length >= rule.size;
    return length == rule.size;
}

} // namespace

void startFixedFrame(uint8_t *frame, uint8_t letter)
{
    std::memset(frame, 0, kFixedFrameLength);
    startFrame(frame, letter);
}

int sealFixedFrame(uint8_t *frame)
{
    return sealAt(frame, kFixedFrameLength - kCrcSize);
}

int buildCheckFrame(uint8_t *frame, uint8_t letter, uint32_t startAddress, uint32_t length,
                    uint32_t expectedCrc)
{
    startFixedFrame(frame, letter);
    writeBigEndian(frame + 3, 3, kFixedFrameLength);
    writeBigEndian(frame + 6, 4, startAddress);
    writeBigEndian(frame + 10, 4, length);
    writeBigEndian(frame + 14, 4, expectedCrc);
    return sealFixedFrame(frame);
}

int buildBlockFrame(uint8_t *frame, uint8_t letter, uint32_t address, const uint8_t *data,
                    int length)
{
    constexpr int kHeaderSize = 10;
    const int total = kHeaderSize + length + kCrcSize;
    startFrame(frame, letter);
    writeBigEndian(frame + 3, 3, uint32_t(total));
    writeBigEndian(frame + 6, 4, address);
    if (length > 0)
        std::memcpy(frame + kHeaderSize, data, size_t(length));
    sealAt(frame, kHeaderSize + length);
    if (total != kFixedFrameLength)
        return total;
    frame[total] = 0;
    frame[total + 1] = 0;
    return total + 2;
}

Result checkReply(const uint8_t *reply, int length, const ReplyRule &rule, CommandOutput &output)
{
    if (!lengthFits(length, rule))
        return BadReply;
    if (rule.marker >= 0 && reply[2] != rule.marker)
        return BadReply;
    const int covered = rule.size - 4;
    const uint32_t computed = crc32(reply, size_t(covered));
    const uint32_t received = readBigEndian(reply + covered, 4);
    if (computed == received)
        return Ok;
    if (rule.crcLabel)
        output.appendLog(QString::fromLatin1(rule.crcLabel) + toHexText(computed, 8) +
                         QLatin1Char(',') + toHexText(received, 8));
    return BadCrc;
}

uint32_t replyValue(const uint8_t *reply)
{
    return readBigEndian(reply + 4, 4);
}

uint8_t replyStatus(const uint8_t *reply)
{
    return reply[8];
}

} // namespace zq::protocol
