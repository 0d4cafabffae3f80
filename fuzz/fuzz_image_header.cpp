// Code, firmware and boot images of any length and content. The .app/.boot header reader and
// the entry-address check must read only the image's bytes, take a missing byte as zero, and
// judge the entry address by the two regions the check knows.
#include "FuzzCheck.h"
#include "config/ImageHeader.h"
#include "operations/Operations.h"

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

using zq::config::ImageHeader;
using zq::config::readImageHeader;

namespace
{

constexpr int kHeaderOffset = 4096;

uint32_t byteOr0(const QByteArray &image, int offset)
{
    return offset < image.size() ? uint32_t(static_cast<unsigned char>(image[offset])) : 0;
}

void checkHeader(const QByteArray &image)
{
    const ImageHeader header = readImageHeader(image);
    const uint32_t version = 0x20000000u | byteOr0(image, kHeaderOffset) << 16 |
                             byteOr0(image, kHeaderOffset + 1) << 8 |
                             byteOr0(image, kHeaderOffset + 2);
    const uint32_t mcuType =
        byteOr0(image, kHeaderOffset + 4) << 24 | byteOr0(image, kHeaderOffset + 5) << 16 |
        byteOr0(image, kHeaderOffset + 6) << 8 | byteOr0(image, kHeaderOffset + 7);
    ZQ_FUZZ_CHECK(header.version == version);
    ZQ_FUZZ_CHECK(header.mcuType == mcuType);
}

// The entry word is little-endian at bytes 4..7. Only the first 4 KiB page at 0x08000000 and
// the first 8 KiB at 0x10000000 are acceptable within those two regions; elsewhere all is.
void checkEntry(const uint8_t *image, int32_t length)
{
    uint32_t expected = 0;
    for (int32_t i = 0; i < 4; ++i)
        expected |= (4 + i < length ? uint32_t(image[4 + i]) : 0u) << (8 * i);
    const uint32_t entry = zq::ops::entryAddress(image, length);
    ZQ_FUZZ_CHECK(entry == expected);
    bool refused = false;
    if (entry >= 0x08000000u && entry <= 0x080FFFFFu)
        refused = entry >= 0x08001000u;
    else if (entry >= 0x10000000u && entry <= 0x10FFFFFFu)
        refused = entry >= 0x10002000u;
    ZQ_FUZZ_CHECK(zq::ops::runningAddressCheck(image, length) == refused);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray image(reinterpret_cast<const char *>(data), int(size));
    checkHeader(image);
    // Most inputs are far shorter than the header's offset: put them where the header is read
    // too, so that every length of a short .app tail is tried.
    checkHeader(QByteArray(kHeaderOffset, char(0xFF)) + image);

    // The check gets the image's own bytes, nothing more, and any length at or below it.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    std::copy(data, data + size, exact.get());
    const int32_t length = int32_t(size);
    checkEntry(exact.get(), length);
    for (int32_t shorter = 0; shorter < 8 && shorter < length; ++shorter)
        checkEntry(exact.get(), shorter);
    checkEntry(exact.get(), -1);
    return 0;
}
