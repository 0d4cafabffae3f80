#include "common/Crc32.h"

#include <array>

namespace zq
{
namespace
{

constexpr std::array<uint32_t, 256> makeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = makeTable();

} // namespace

uint32_t crc32(const uint8_t *data, size_t count, uint32_t crc)
{
    for (size_t i = 0; i < count; ++i)
        crc = (crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFFu];
    return crc;
}

} // namespace zq
