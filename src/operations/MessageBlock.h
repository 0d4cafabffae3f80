#pragma once

#include <QString>

#include <cstdint>

namespace zq::ops
{

// The 512-byte record stored at address 0 of the programmer's SPI flash beside the image: what
// the programmer needs to program targets on its own.
constexpr int kMessageBlockSize = 512;

struct MessageFields {
    uint32_t targetId;
    uint32_t programNumber;
    int32_t imageLength;
    uint32_t imageCrc;
    uint32_t swdSpeed;
};

// Fills block[0..511]: little-endian fields (ids and number inverted), 0xFF filler, the magic at
// 500 and the CRC of bytes 0..503 twice. Returns that CRC.
uint32_t buildMessageBlock(uint8_t *block, const MessageFields &fields);

// The "Program Number:" text as a decimal number; anything that is not one, or does not fit the
// 32-bit field, counts as 0.
uint32_t programNumberFromText(const QString &text);

// The SWD speed list index as the programmer knows it: 0..2, no selection as 0.
uint32_t swdSpeedCode(int listIndex);

} // namespace zq::ops
