#pragma once

#include "config/RegularFile.h"

#include <QByteArray>
#include <QIODevice>
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

// What a text file that is neither Intel HEX nor S-record is refused with: programmed as raw
// bytes it would put its characters into the target and pass the check.
extern const QString kTextNotAnImage;

// A code image for the target: raw binary, Intel HEX, Motorola S-record or ELF executable,
// told apart by content, not by name. The formats become the flat image from the lowest
// loaded address with gaps of 0xFF, so everything after (CRC, length, entry address, message
// block) sees what a raw binary of the same program would be. A raw file is at most 16 MiB,
// judged by its size before a byte is read; a HEX or S-record file at most 64 MiB of text,
// read a line at a time; an ELF file is read by its headers. Whatever the file, reading it
// costs at most about twice the image it makes plus a fixed amount, and memory that cannot
// be had makes it unreadable. A text file is never taken as a raw image: with a byte-order
// mark or lower-case hex digits it is read as its records, otherwise refused
// (kTextNotAnImage); records after blank lines are refused as other tools refuse them.
LoadedImage loadCodeImage(const QString &path);

// The same from an open file or buffer, from its start.
LoadedImage loadCodeImageFrom(QIODevice &file);

// The file read as the given format, whatever its first line says (Raw: the bytes as they are,
// text or not).
LoadedImage loadImageAs(QIODevice &file, ImageFormat format);

// A programmer firmware or boot image: always raw, at most 16 MiB.
LoadedImage loadRawImage(const QString &path);

// "demo.hex: Intel HEX, line 12: bad checksum", "demo.bin: is a folder".
QString imageRefusal(const QString &name, const LoadedImage &image);

// "demo.hex: Intel HEX, 6000 bytes from 0x08000000", "demo.bin: raw binary, 6000 bytes".
QString imageDescription(const QString &name, const LoadedImage &image);

} // namespace zq::ops
