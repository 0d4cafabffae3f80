#include "operations/MessageBlock.h"

#include "common/ByteOrder.h"
#include "common/Crc32.h"

#include <algorithm>

namespace zq::ops
{

namespace
{

constexpr uint32_t kMagic = 0xA5C37755;
constexpr int kMagicOffset = 500;
constexpr int kCrcOffset = 504;

} // namespace

// Little-endian fields: the programmer's MCU reads its flash so, unlike the frames on the wire.
uint32_t buildMessageBlock(uint8_t *block, const MessageFields &fields)
{
    std::fill(block, block + kMessageBlockSize, uint8_t(0xFF));
    writeLittleEndian(block + 0, 4, ~fields.targetId);
    writeLittleEndian(block + 4, 4, ~fields.programNumber);
    writeLittleEndian(block + 8, 4, uint32_t(fields.imageLength));
    writeLittleEndian(block + 12, 4, fields.imageCrc);
    writeLittleEndian(block + 16, 4, fields.swdSpeed);
    writeLittleEndian(block + kMagicOffset, 4, kMagic);
    const uint32_t crc = crc32(block, kCrcOffset);
    writeLittleEndian(block + kCrcOffset, 4, crc);
    writeLittleEndian(block + kCrcOffset + 4, 4, crc);
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
