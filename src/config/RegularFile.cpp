#include "config/RegularFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <limits>
#include <new>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zq::config
{

namespace
{

#ifdef Q_OS_UNIX
// O_NONBLOCK: should a FIFO have taken the file's place since it was looked at, the open
// returns at once and fstat tells.
FileProblem openChecked(QFile &file, const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FileProblem::Unreadable;
    struct stat status {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return FileProblem::NotRegular;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return FileProblem::Unreadable;
    }
    return FileProblem::None;
}

// Opening for append neither creates nor changes the file, and tells whether the system would
// let us write it; O_NONBLOCK and fstat again for a FIFO put in its place since it was looked at.
bool writableChecked(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status {
    };
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    return regular;
}
#else
FileProblem openChecked(QFile &file, const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly) ? FileProblem::None : FileProblem::Unreadable;
}

bool writableChecked(const QString &path)
{
    QFile probe(path);
    return probe.open(QIODevice::WriteOnly | QIODevice::Append);
}
#endif

} // namespace

QString fileProblemText(FileProblem problem)
{
    switch (problem) {
    case FileProblem::None:
        break;
    case FileProblem::Missing:
        return QStringLiteral("does not exist");
    case FileProblem::Folder:
        return QStringLiteral("is a folder");
    case FileProblem::NotRegular:
        return QStringLiteral("is not a regular file (a pipe, socket or device)");
    case FileProblem::TooLarge:
        return QStringLiteral("is too large");
    case FileProblem::Unreadable:
        return QStringLiteral("cannot be read (no permission?)");
    case FileProblem::SizeChanged:
        return QStringLiteral("did not yield as many bytes as its size says");
    }
    return QString();
}

FileProblem regularFileProblem(const QString &path)
{
    switch (fileTypeOf(path)) {
    case FileType::Missing:
        return FileProblem::Missing;
    case FileType::Folder:
        return FileProblem::Folder;
    case FileType::Regular:
        return FileProblem::None;
    default:
        return FileProblem::NotRegular;
    }
}

#ifdef Q_OS_UNIX
FileType fileTypeOf(const QString &path)
{
    struct stat status {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return FileType::Missing;
    if (S_ISREG(status.st_mode))
        return FileType::Regular;
    if (S_ISDIR(status.st_mode))
        return FileType::Folder;
    if (S_ISFIFO(status.st_mode))
        return FileType::Fifo;
    if (S_ISSOCK(status.st_mode))
        return FileType::Socket;
    if (S_ISCHR(status.st_mode))
        return FileType::CharacterDevice;
    return S_ISBLK(status.st_mode) ? FileType::BlockDevice : FileType::Other;
}
#else
FileType fileTypeOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return FileType::Missing;
    if (info.isDir())
        return FileType::Folder;
    return info.isFile() ? FileType::Regular : FileType::Other;
}
#endif

QString fileTypeText(FileType type)
{
    switch (type) {
    case FileType::Missing:
        return fileProblemText(FileProblem::Missing);
    case FileType::Regular:
        return QStringLiteral("is a regular file");
    case FileType::Folder:
        return fileProblemText(FileProblem::Folder);
    case FileType::Fifo:
        return QStringLiteral("is a FIFO");
    case FileType::Socket:
        return QStringLiteral("is a socket");
    case FileType::CharacterDevice:
        return QStringLiteral("is a character device");
    case FileType::BlockDevice:
        return QStringLiteral("is a block device");
    case FileType::Other:
        break;
    }
    return fileProblemText(FileProblem::NotRegular);
}

FileProblem openRegularFile(QFile &file, const QString &path)
{
    const FileProblem type = regularFileProblem(path);
    return type != FileProblem::None ? type : openChecked(file, path);
}

FileProblem readExactly(QIODevice &file, qint64 count, QByteArray &bytes)
{
    if (count < 0 || count > std::numeric_limits<int>::max())
        return FileProblem::TooLarge;
    try {
        QByteArray read(int(count), Qt::Uninitialized);
        qint64 done = 0;
        while (done < count) {
            const qint64 got = file.read(read.data() + done, count - done);
            if (got <= 0)
                return FileProblem::SizeChanged;
            done += got;
        }
        bytes = std::move(read);
    } catch (const std::bad_alloc &) {
        return FileProblem::Unreadable;
    }
    return FileProblem::None;
}

FileProblem readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    QFile file;
    const FileProblem opened = openRegularFile(file, path);
    if (opened != FileProblem::None)
        return opened;
    const qint64 size = file.size();
    if (size > maxBytes)
        return FileProblem::TooLarge;
    const FileProblem read = readExactly(file, size, bytes);
    if (read != FileProblem::None)
        return read;
    char more = 0;
    return file.read(&more, 1) == 0 ? FileProblem::None : FileProblem::SizeChanged;
}

// Checked here, not left to QSaveFile: it would rename its file over a FIFO or a device node,
// the target of a link included, and whether it refuses a read-only file depends on the Qt.
bool existingFileWritable(const QString &path)
{
    const FileProblem type = regularFileProblem(path);
    if (type == FileProblem::Missing)
        return true;
    return type == FileProblem::None && writableChecked(path);
}

bool replaceRegularFile(const QString &path, const QByteArray &bytes)
{
    if (!existingFileWritable(path))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace zq::config
