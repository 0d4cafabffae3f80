#pragma once

#include <QByteArray>

#include <cstdint>

namespace zq::samples
{

// A target image of a few KiB whose entry address (bytes 4..7, little-endian) is 0x08000145,
// inside the first page of the target's flash, so it passes the running-address check. Its
// length is not a multiple of 4096, so it ends in a short block.
QByteArray demoCodeImage();

// A programmer image (.app or .boot) of 20 KiB with the image header at 4096: the version's low
// three bytes, most significant first, then one unused byte, then the MCU type, most
// significant first. seed makes the application and the boot loader differ.
QByteArray programmerImage(uint32_t version, uint32_t mcuType, uint32_t seed);

} // namespace zq::samples
