#pragma once

// The images the tests feed the operations, and the settings block a download stores beside
// one, built from their byte layouts here so that no expected value leans on the program's code.

#include <QByteArray>
#include <QList>
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

// An ELF executable of either class (little-endian) whose program headers load the given
// pieces of `data`, which follows the headers in the file; no section headers.
struct ElfLoad {
    uint64_t offsetInData, address, fileSize, memorySize;
};

inline QByteArray elfExecutable(bool wide, const QList<ElfLoad> &loads, const QByteArray &data)
{
    auto put = [](QByteArray &bytes, int at, uint64_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes[at + i] = char(value >> (8 * i));
    };
    const int header = wide ? 64 : 52, entry = wide ? 56 : 32, word = wide ? 8 : 4;
    QByteArray file(header + entry * loads.size(), '\0');
    file.replace(0, 7,
                 QByteArray("\x7F"
                            "ELF") +
                     char(wide ? 2 : 1) + '\x01' + '\x01');
    put(file, 16, 2, 2); // an executable
    put(file, 18, wide ? 0x3E : 0x28, 2);
    put(file, 20, 1, 4);
    put(file, wide ? 32 : 28, uint64_t(header), word); // program headers follow
    put(file, wide ? 52 : 40, uint64_t(header), 2);
    put(file, wide ? 54 : 42, uint64_t(entry), 2);
    put(file, wide ? 56 : 44, uint64_t(loads.size()), 2);
    for (int i = 0; i < loads.size(); ++i) {
        const int at = header + i * entry;
        const ElfLoad &load = loads[i];
        put(file, at, 1, 4); // PT_LOAD
        const int fields = at + (wide ? 8 : 4);
        put(file, fields, uint64_t(file.size()) + load.offsetInData, word);
        put(file, fields + word, load.address, word);
        put(file, fields + 2 * word, load.address, word);
        put(file, fields + 3 * word, load.fileSize, word);
        put(file, fields + 4 * word, load.memorySize, word);
    }
    return file + data;
}
