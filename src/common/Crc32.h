#pragma once

#include <cstddef>
#include <cstdint>

namespace zq
{

// The programmer's CRC-32: reflected, polynomial 0xEDB88320, register started at 0 and not
// inverted at the end. Frames, code images and the message block all use it.
// crc32("123456789") == 0x2DFD2D88; crc32 of no bytes is 0.
uint32_t crc32(const uint8_t *data, size_t count, uint32_t crc = 0);

} // namespace zq
