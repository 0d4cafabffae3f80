#pragma once

#include <cstddef>
#include <cstdint>

namespace zq::emu
{

// Frames carry every multi-byte field most significant byte first.
inline uint32_t readBigEndian(const uint8_t *bytes, size_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

inline void writeBigEndian(uint8_t *bytes, size_t count, uint32_t value)
{
    for (size_t i = count; i-- > 0;) {
        bytes[i] = uint8_t(value & 0xFF);
        value >>= 8;
    }
}

} // namespace zq::emu
