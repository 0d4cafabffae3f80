#pragma once

#include <cstdint>

namespace zq::protocol
{

// Every multi-byte field of a frame, the CRC included, travels most significant byte first.

inline void putBigEndian24(uint8_t *at, uint32_t value)
{
    at[0] = uint8_t(value >> 16);
    at[1] = uint8_t(value >> 8);
    at[2] = uint8_t(value);
}

inline void putBigEndian32(uint8_t *at, uint32_t value)
{
    at[0] = uint8_t(value >> 24);
    putBigEndian24(at + 1, value);
}

inline uint32_t bigEndian24(const uint8_t *at)
{
    return uint32_t(at[0]) << 16 | uint32_t(at[1]) << 8 | uint32_t(at[2]);
}

inline uint32_t bigEndian32(const uint8_t *at)
{
    return uint32_t(at[0]) << 24 | bigEndian24(at + 1);
}

} // namespace zq::protocol
