#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace zq::ops
{

// No memory of the board is larger: its SPI flash holds 16 MiB.
constexpr int32_t kLargestImage = int32_t(16) << 20;

// "0x08000000"; wider when the address needs it.
QString addressText(uint64_t address);

// The data a HEX, S-record or ELF file loads, before it becomes one flat image. Each piece
// remembers where in the file it came from ("line 12", "segment 1 at offset 0x10000"), so a
// refusal can name it.
class LoadedData
{
public:
    // A piece that continues the one added last joins it, so a file of many small records
    // becomes a few pieces.
    void add(uint64_t address, const QByteArray &bytes, const QString &origin);

    // The image from the lowest loaded address, gaps 0xFF. The target is written from offset 0
    // of its flash, so the image must start at the base of a flash the running-address check
    // knows (0x08000000, 0x10000000) or at 0. False with the reason when it does not, when two
    // pieces overlap, or when it spans more than 16 MiB.
    bool flatten(QByteArray &image, uint32_t &base, QString &problem) const;

private:
    struct Piece {
        uint64_t address;
        QByteArray bytes;
        QString origin;
        uint64_t end() const { return address + uint64_t(bytes.size()); }
    };
    std::vector<Piece> pieces_;
};

} // namespace zq::ops
