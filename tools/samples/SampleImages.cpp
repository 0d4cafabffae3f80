#include "SampleImages.h"

namespace zq::samples
{

namespace
{

constexpr int kCodeImageSize = 6000;
constexpr int kProgrammerImageSize = 20 * 1024;
constexpr int kHeaderOffset = 4096;

// Content that looks like code to a CRC and never changes between runs.
QByteArray patterned(int size, uint32_t seed)
{
    QByteArray bytes(size, '\0');
    uint32_t state = seed;
    for (int i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state);
    }
    return bytes;
}

void putLittleEndian(QByteArray &bytes, int offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char(value >> (8 * i));
}

void putBigEndian(QByteArray &bytes, int offset, uint32_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[offset + i] = char(value >> (8 * (count - 1 - i)));
}

} // namespace

QByteArray demoCodeImage()
{
    QByteArray image = patterned(kCodeImageSize, 0x5A17C0D2);
    putLittleEndian(image, 0, 0x20002000); // initial stack pointer
    putLittleEndian(image, 4, 0x08000145); // entry address
    return image;
}

QByteArray programmerImage(uint32_t version, uint32_t mcuType, uint32_t seed)
{
    QByteArray image = patterned(kProgrammerImageSize, seed);
    putBigEndian(image, kHeaderOffset, version, 3);
    image[kHeaderOffset + 3] = '\0';
    putBigEndian(image, kHeaderOffset + 4, mcuType, 4);
    return image;
}

} // namespace zq::samples
