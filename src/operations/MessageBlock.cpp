#include "operations/MessageBlock.h"

#include "common/Crc32.h"

#include <algorithm>

namespace zq::ops
{

namespace
{

constexpr uint32_t kMagic = 0xA5C37755;
constexpr int kMagicOffset = 500;
constexpr int kCrcOffset = 504;

// The programmer's MCU reads its flash little-endian, unlike the frames on the wire.
void putLittleEndian32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

} // namespace

uint32_t buildMessageBlock(uint8_t *block, const MessageFields &fields)
{
    std::fill(block, block + kMessageBlockSize, uint8_t(0xFF));
    putLittleEndian32(block + 0, ~fields.targetId);
    putLittleEndian32(block + 4, ~fields.programNumber);
    putLittleEndian32(block + 8, uint32_t(fields.imageLength));
    putLittleEndian32(block + 12, fields.imageCrc);
    putLittleEndian32(block + 16, fields.swdSpeed);
    putLittleEndian32(block + kMagicOffset, kMagic);
    const uint32_t crc = crc32(block, kCrcOffset);
    putLittleEndian32(block + kCrcOffset, crc);
    putLittleEndian32(block + kCrcOffset + 4, crc);
    return crc;
}

uint32_t programNumberFromText(const QString &text)
{
    bool ok = false;
    const uint32_t number = text.toUInt(&ok, 10);
    return ok ? number : 0;
}

uint32_t swdSpeedCode(int listIndex)
{
    return uint32_t(std::clamp(listIndex, 0, 2));
}

} // namespace zq::ops
