#pragma once

#include <cstddef>
#include <cstdint>

namespace zq
{

// Fields of count bytes (at most the width of Value). The programmer's frames, the image
// header and S-record and HEX addresses are most significant byte first; the message block
// stored for the programmer's MCU and little-endian ELF files are least significant first.

template <typename Value = uint32_t>
constexpr Value readBigEndian(const uint8_t *bytes, size_t count)
{
    Value value = 0;
    for (size_t i = 0; i < count; ++i)
        value = Value(value << 8) | bytes[i];
    return value;
}

template <typename Value = uint32_t>
constexpr Value readLittleEndian(const uint8_t *bytes, size_t count)
{
    Value value = 0;
    for (size_t i = count; i-- > 0;)
        value = Value(value << 8) | bytes[i];
    return value;
}

inline void writeBigEndian(uint8_t *bytes, size_t count, uint32_t value)
{
    for (size_t i = count; i-- > 0;) {
        bytes[i] = uint8_t(value & 0xFF);
        value >>= 8;
    }
}

inline void writeLittleEndian(uint8_t *bytes, size_t count, uint32_t value)
{
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = uint8_t(value & 0xFF);
        value >>= 8;
    }
}

} // namespace zq
