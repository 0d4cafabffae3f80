#pragma once

// The images the tests feed the operations, and the settings block a download stores beside
// one, built from their byte layouts here so that no expected value leans on the program's code.

#include <QByteArray>
#include <QString>

#include <cstdint>

// The protocol's CRC-32 (reflected, start 0, no final inversion), bit by bit.
inline uint32_t referenceCrc(const QByteArray &bytes)
{
    uint32_t crc = 0;
    for (const char byte : bytes) {
        crc ^= uint8_t(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

// A 32-bit value as the log writes it: 0x and eight upper-case hex digits.
inline QString hex8(uint32_t value)
{
    return QStringLiteral("0x") +
           QString::number(value, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

// The CRC of the bytes as the log writes it.
inline QString crcText(const QByteArray &bytes)
{
    return hex8(referenceCrc(bytes));
}

inline QByteArray littleEndian(uint32_t value)
{
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        bytes += char(value >> (8 * i));
    return bytes;
}

// Bytes that look like code; entry is stored little-endian at 4..7 as far as the image reaches.
inline QByteArray codeImage(int size, uint32_t entry = 0x08000145, uint32_t seed = 1)
{
    QByteArray image(size, '\0');
    uint32_t state = seed * 2654435761u + 12345;
    for (int i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345;
        image[i] = char(state >> 16);
    }
    for (int i = 4; i < 8 && i < size; ++i)
        image[i] = char(entry >> (8 * (i - 4)));
    return image;
}

// A programmer image (.app or .boot) with its header at 4096, as far as the image reaches: the
// version's low three bytes and the MCU type, both most significant first, an unused byte between.
inline QByteArray programmerImage(int size, uint32_t version, uint32_t mcu, uint32_t seed = 3)
{
    QByteArray image = codeImage(size, 0, seed);
    const uint8_t header[8] = {
        uint8_t(version >> 16), uint8_t(version >> 8), uint8_t(version),  0xEE,
        uint8_t(mcu >> 24),     uint8_t(mcu >> 16),    uint8_t(mcu >> 8), uint8_t(mcu)};
    for (int i = 0; i < 8 && 4096 + i < size; ++i)
        image[4096 + i] = char(header[i]);
    return image;
}

// The 512-byte settings block a download stores at address 0: its 20 bytes of fields, 0xFF up to
// the marker at 500, then the CRC of the 504 bytes before it, twice.
inline QByteArray settingsBlock(const QByteArray &fields20)
{
    const QByteArray block =
        fields20 + QByteArray(480, char(0xFF)) + QByteArray::fromHex("5577C3A5");
    const QByteArray crc = littleEndian(referenceCrc(block));
    return block + crc + crc;
}
