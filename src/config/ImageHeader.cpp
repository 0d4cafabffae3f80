#include "config/ImageHeader.h"

#include "common/ByteOrder.h"

namespace zq::config
{

namespace
{

constexpr int headerOffset = 4096;
constexpr uint32_t versionTopByte = 0x20000000;

constexpr int headerSize = 8;

} // namespace

// A short image reads its missing header bytes as zero.
ImageHeader readImageHeader(const QByteArray &image)
{
    const QByteArray bytes = image.mid(headerOffset, headerSize).leftJustified(headerSize, '\0');
    const auto *field = reinterpret_cast<const uint8_t *>(bytes.constData());
    ImageHeader header;
    header.version = versionTopByte + readBigEndian(field, 3);
    header.mcuType = readBigEndian(field + 4, 4);
    return header;
}

} // namespace zq::config
