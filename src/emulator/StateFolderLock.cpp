// The state folder's owner: one process at a time.
#include "emulator/StateFolder.h"

#include <QDir>
#include <QFile>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace zq::emu
{

std::unique_ptr<StateFolderLock> StateFolderLock::take(const QString &folder, bool *busy,
                                                       QString *error)
{
    *busy = false;
    if (!QDir(folder).mkpath(QStringLiteral("."))) {
        *error = QStringLiteral("cannot create ") + folder;
        return nullptr;
    }
    const QString path = QDir(folder).filePath(QStringLiteral(".lock"));
#if defined(_WIN32)
    // Opened without sharing: a second opener is refused until this handle is closed.
    HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                    0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *busy = GetLastError() == ERROR_SHARING_VIOLATION;
        *error = path + QStringLiteral(": cannot be locked");
        return nullptr;
    }
    return std::unique_ptr<StateFolderLock>(
        new StateFolderLock(reinterpret_cast<intptr_t>(handle)));
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *busy = errno == EWOULDBLOCK;
        *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<StateFolderLock>(new StateFolderLock(fd));
#endif
}

StateFolderLock::~StateFolderLock()
{
#if defined(_WIN32)
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
#else
    ::close(int(handle_)); // drops the flock
#endif
}

} // namespace zq::emu
