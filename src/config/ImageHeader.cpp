#include "config/ImageHeader.h"

namespace zq::config
{

namespace
{

constexpr int headerOffset = 4096;
constexpr uint32_t versionTopByte = 0x20000000;

uint32_t byteAt(const QByteArray &image, int offset)
{
    return offset < image.size() ? uint32_t(static_cast<unsigned char>(image[offset])) : 0;
}

uint32_t bigEndianAt(const QByteArray &image, int offset, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | byteAt(image, offset + i);
    return value;
}

} // namespace

ImageHeader readImageHeader(const QByteArray &image)
{
    ImageHeader header;
    header.version = versionTopByte + bigEndianAt(image, headerOffset, 3);
    header.mcuType = bigEndianAt(image, headerOffset + 4, 4);
    return header;
}

} // namespace zq::config
