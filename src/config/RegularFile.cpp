#include "config/RegularFile.h"

#include <QFileInfo>

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
#else
FileProblem openChecked(QFile &file, const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly) ? FileProblem::None : FileProblem::Unreadable;
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
    const QFileInfo info(path);
    if (!info.exists())
        return FileProblem::Missing;
    if (info.isDir())
        return FileProblem::Folder;
    return info.isFile() ? FileProblem::None : FileProblem::NotRegular;
}

FileProblem openRegularFile(QFile &file, const QString &path)
{
    const FileProblem type = regularFileProblem(path);
    return type != FileProblem::None ? type : openChecked(file, path);
}

FileProblem readExactly(QFile &file, qint64 count, QByteArray &bytes)
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

} // namespace zq::config
