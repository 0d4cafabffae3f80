#pragma once

#include "config/RegularFile.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace zq::ops
{

// An image shorter than this has no entry address, and nothing worth writing.
constexpr int32_t kShortestImage = 8;

enum class ImageFormat { Raw, IntelHex, SRecord, Elf };

// "raw binary", "Intel HEX", "Motorola S-record", "ELF"
QString imageFormatName(ImageFormat format);

// An image file as read for an operation.
struct LoadedImage {
    enum class Status {
        Ready,      // bytes hold the image
        Unreadable, // the file could not be read (fileProblem says why): the caller's own text
        Refused     // it was read, but its content is not an image we can write (problem)
    };
    Status status = Status::Unreadable;
    config::FileProblem fileProblem = config::FileProblem::None;
    QString problem; // for Refused: what is wrong, naming the line, offset or address
    ImageFormat format = ImageFormat::Raw;
    uint32_t base = 0; // the address the image starts at; 0 for a raw binary
    QByteArray bytes;  // the flat image

    // Why the image cannot be used, in a few words; empty when it is Ready.
    QString reason() const;
};

// A code image for the target: raw binary, Intel HEX, Motorola S-record or ELF executable,
// told apart by content, not by name. The formats become the flat image from the lowest
// loaded address with gaps of 0xFF, so everything after (CRC, length, entry address, message
// block) sees what a raw binary of the same program would be. Nothing larger than 16 MiB is
// read: a raw file by its size before a byte is read, a HEX or S-record file by its size
// before it is read (at most 64 MiB of text), an ELF file by its segments.
LoadedImage loadCodeImage(const QString &path);

// A programmer firmware or boot image: always raw, at most 16 MiB.
LoadedImage loadRawImage(const QString &path);

// "demo.hex: Intel HEX, line 12: bad checksum", "demo.bin: is a folder".
QString imageRefusal(const QString &name, const LoadedImage &image);

// "demo.hex: Intel HEX, 6000 bytes from 0x08000000", "demo.bin: raw binary, 6000 bytes".
QString imageDescription(const QString &name, const LoadedImage &image);

} // namespace zq::ops
