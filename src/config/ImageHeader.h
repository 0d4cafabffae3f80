#pragma once

#include <QByteArray>
#include <cstdint>

namespace zq::config
{

// The 8-byte header that .app and .boot images carry at offset 4096.
struct ImageHeader {
    uint32_t version; // 0x20 and the three bytes at 4096..4098, the board's version form
    uint32_t mcuType; // bytes 4100..4103, most significant first; byte 4099 is not part of it
};

// Bytes beyond the end of a short image read as zero, so any file gives a header.
ImageHeader readImageHeader(const QByteArray &image);

} // namespace zq::config
