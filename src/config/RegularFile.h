#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace zq::config
{

// Why a file could not be read. Every program file (code and update images, config.ini,
// Flash.ini, the emulator's state) is read only when it is a regular file: a FIFO would block
// the open or the read for good, and a device or a /proc file has no size to judge.
enum class FileProblem {
    None,
    Missing,    // nothing at the path (or a link to nothing)
    Folder,     // a directory
    NotRegular, // a FIFO, a socket, a character or block device
    TooLarge,   // larger than the caller allows; judged before anything is read
    Unreadable, // the open failed (permission), or memory for it could not be had
    SizeChanged // it yielded fewer or more bytes than its size
};

// A few words for the user: "is a folder", "is not a regular file (a pipe, socket or device)".
QString fileProblemText(FileProblem problem);

// The type as the path names it (a link counts as what it points to); None for a regular file.
FileProblem regularFileProblem(const QString &path);

// Opens a regular file for reading. The type is tested before the open, and again on the open
// handle, so that neither a FIFO put in its place nor a device is ever opened for real.
FileProblem openRegularFile(QFile &file, const QString &path);

// Reads exactly count bytes from the file's position; SizeChanged when it yields fewer, or
// Unreadable when memory for them cannot be had.
FileProblem readExactly(QFile &file, qint64 count, QByteArray &bytes);

// A whole regular file of at most maxBytes, which must yield exactly its size: a file that
// grows or shrinks while it is read, or a /proc file whose size says 0, is refused.
FileProblem readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes);

} // namespace zq::config
