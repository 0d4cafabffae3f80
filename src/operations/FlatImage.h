#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace zq::ops
{

// No memory of the board is larger: its SPI flash holds 16 MiB.
constexpr int32_t kLargestImage = int32_t(16) << 20;

// "0x08000000"; wider when the address needs it.
QString addressText(uint64_t address);

// The flat image a HEX, S-record or ELF file makes, built while the file is read: each piece of
// data is written straight to its place, so a file costs the image and an eighth of it for the
// map of the bytes taken, however many pieces it has. The target is written from offset 0 of
// its flash, so the image must start at the base of a flash the running-address check knows
// (0x08000000, 0x10000000) or at 0 and span at most 16 MiB: the image lies in the 16 MiB window
// from the base below its first piece. A piece outside that window is not kept, only counted:
// the image then starts elsewhere or spans more, and finish() refuses it.
class FlatImage
{
public:
    struct Placement {
        enum Kind {
            Into,        // write the piece's bytes to `to`
            Outside,     // nothing to write: outside the window (or empty)
            Overlap,     // a byte at `overlapAt` was taken by an earlier piece
            PastAddress, // the piece ends past 0xFFFFFFFF: the targets have 32-bit addresses
        } kind;
        char *to = nullptr;
        uint64_t overlapAt = 0;
    };

    // Room for size bytes at address, for the piece known to the reader as origin (a line
    // number, a segment's index). May throw std::bad_alloc.
    Placement place(uint64_t address, uint64_t size, uint64_t origin);

    // After the last piece: the image from its lowest address, gaps 0xFF. False with the reason
    // when it does not start at an allowed base or spans more than 16 MiB; originText names the
    // piece the image starts with.
    bool finish(QByteArray &image, uint32_t &base, QString &problem,
                const std::function<QString(uint64_t origin)> &originText);

private:
    void grow(uint64_t length);
    bool takeFree(uint64_t from, uint64_t to, uint64_t &overlapAt);

    bool empty_ = true;
    bool windowSet_ = false;
    uint64_t window_ = 0; // the base the window starts at
    uint64_t lowest_ = 0; // over every piece, in the window or not
    uint64_t lowestOrigin_ = 0;
    uint64_t end_ = 0;            // the highest end over every piece
    uint64_t windowEnd_ = 0;      // the highest end in the window
    QByteArray bytes_;            // the window from its base, as far as it has grown
    std::vector<uint64_t> taken_; // one bit per byte of bytes_
};

// "line 4: data at 0x08000002 overlaps data from line 2"
QString overlapText(const QString &origin, uint64_t address, const QString &earlier);

// "line 9: 32 bytes at 0xFFFFFFF0 end past 0xFFFFFFFF; the target's addresses have 32 bits"
QString pastAddressText(const QString &origin, uint64_t address, uint64_t size);

} // namespace zq::ops
