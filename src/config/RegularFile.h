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

// What a path names, a link taken as what it points to (Other: a kind the system does not tell).
enum class FileType { Missing, Regular, Folder, Fifo, Socket, CharacterDevice, BlockDevice, Other };
FileType fileTypeOf(const QString &path);

// For the user, after the file's name: "is a folder", "is a FIFO", "is a character device", ...
QString fileTypeText(FileType type);

// Opens a regular file for reading. The type is tested before the open, and again on the open
// handle, so that neither a FIFO put in its place nor a device is ever opened for real.
FileProblem openRegularFile(QFile &file, const QString &path);

// Reads exactly count bytes from the file's position; SizeChanged when it yields fewer, or
// Unreadable when memory for them cannot be had.
FileProblem readExactly(QIODevice &file, qint64 count, QByteArray &bytes);

// A whole regular file of at most maxBytes, which must yield exactly its size: a file that
// grows or shrinks while it is read, or a /proc file whose size says 0, is refused.
FileProblem readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes);

// Whether a write may replace what the path names: nothing (or a link to nothing), or a regular
// file, through any links, that the system lets us write. Never a folder, a FIFO (opening one
// for writing would wait for a reader for good) or a device (it would be replaced by a file).
bool existingFileWritable(const QString &path);

// Replaces the file through a temporary file and a rename, so the old file survives any
// failure; a link stays a link and its target gets the bytes. False, and nothing changed, when
// existingFileWritable says no or the write fails.
bool replaceRegularFile(const QString &path, const QByteArray &bytes);

} // namespace zq::config
