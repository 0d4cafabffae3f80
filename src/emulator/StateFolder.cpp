#include "emulator/StateFolder.h"

#include "config/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <map>

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

namespace
{

constexpr qint64 MaxFileBytes = qint64(64) << 20;
constexpr uint32_t MaxTargetFlashSize = uint32_t(64) << 20;
constexpr uint32_t MaxBlockWriteMs = 1000; // well inside the host's 2 s wait for a block

const std::map<BoardMode, QString> &modeNames()
{
    static const std::map<BoardMode, QString> names = {{BoardMode::Normal, "normal"},
                                                       {BoardMode::McuUpdate, "mcu-update"},
                                                       {BoardMode::BootUpdate, "boot-update"}};
    return names;
}

QString hex(uint32_t value, int width)
{
    return "0x" + QString::number(value, 16).toUpper().rightJustified(width, '0');
}

QByteArray toBytes(const std::vector<uint8_t> &data)
{
    return QByteArray(reinterpret_cast<const char *>(data.data()), int(data.size()));
}

// A file that is not there yet is the default state; one that is there must be a regular file
// that reads whole, or the folder is not the board's state.
bool readStateFile(const QString &path, QByteArray &bytes, QString *error)
{
    bytes.clear();
    const config::FileProblem problem = config::readRegularFile(path, MaxFileBytes, bytes);
    if (problem == config::FileProblem::None || problem == config::FileProblem::Missing)
        return true;
    if (error)
        *error = path + QStringLiteral(" ") + config::fileProblemText(problem);
    return false;
}

bool readBinary(const QString &path, std::vector<uint8_t> &data, QString *error)
{
    QByteArray bytes;
    if (!readStateFile(path, bytes, error))
        return false;
    data.assign(bytes.begin(), bytes.end());
    return true;
}

QByteArray boardIni(const BoardState &state)
{
    const BoardIdentity &id = state.identity;
    QString text;
    QTextStream out(&text);
    out << "mode=" << modeNames().at(id.mode) << '\n'
        << "boot_version=" << hex(id.bootVersion, 8) << '\n'
        << "app_version=" << hex(id.appVersion, 8) << '\n'
        << "board_mcu=" << hex(id.boardMcu, 8) << '\n'
        << "board_id=" << hex(id.boardId, 8) << '\n'
        << "flash_id=" << hex(id.flashId, 6) << '\n'
        << "target_present=" << (state.target.present ? 1 : 0) << '\n'
        << "target_id=" << hex(state.target.targetId, 8) << '\n'
        << "target_flash_size=" << state.target.flashSize << '\n';
    if (state.blockWriteMs > 0)
        out << "block_write_ms=" << state.blockWriteMs << '\n';
    out.flush();
    return text.toUtf8();
}

void applyMode(BoardIdentity &identity, const QString &name)
{
    for (const auto &entry : modeNames())
        if (entry.second == name)
            identity.mode = entry.first;
}

void applyKey(BoardState &state, const QString &key, const QString &value)
{
    if (key == "mode")
        return applyMode(state.identity, value);
    bool ok = false;
    const uint32_t number = value.toUInt(&ok, 0);
    if (!ok)
        return;
    const std::map<QString, uint32_t *> words = {{"boot_version", &state.identity.bootVersion},
                                                 {"app_version", &state.identity.appVersion},
                                                 {"board_mcu", &state.identity.boardMcu},
                                                 {"board_id", &state.identity.boardId},
                                                 {"target_id", &state.target.targetId}};
    if (auto it = words.find(key); it != words.end())
        *it->second = number;
    else if (key == "flash_id")
        state.identity.flashId = number & 0xFFFFFF;
    else if (key == "target_present")
        state.target.present = number != 0;
    else if (key == "target_flash_size" && number > 0 && number <= MaxTargetFlashSize)
        state.target.flashSize = number;
    else if (key == "block_write_ms" && number <= MaxBlockWriteMs)
        state.blockWriteMs = int(number);
}

bool readBoardIni(const QString &path, BoardState &state, QString *error)
{
    QByteArray bytes;
    if (!readStateFile(path, bytes, error))
        return false;
    const QStringList lines = QString::fromUtf8(bytes).replace('\r', QString()).split('\n');
    for (const QString &line : lines) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            applyKey(state, line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return true;
}

// The lock is opened for writing, or made: never a FIFO, a device or a folder in its place.
bool lockFileUsable(const QString &path, QString *error)
{
    const config::FileProblem type = config::regularFileProblem(path);
    if (type == config::FileProblem::None || type == config::FileProblem::Missing)
        return true;
    *error = path + QStringLiteral(" ") + config::fileProblemText(type);
    return false;
}

} // namespace

bool saveStateFolder(const QString &folder, const BoardState &state)
{
    const QDir dir(folder);
    if (!dir.mkpath("."))
        return false;
    const auto save = [&dir](const char *name, const QByteArray &bytes) {
        return config::replaceRegularFile(dir.filePath(name), bytes);
    };
    return save("spi-flash.bin", toBytes(state.spiFlash)) &&
           save("target-flash.bin", toBytes(state.targetFlash)) &&
           save("app.bin", toBytes(state.app)) && save("boot.bin", toBytes(state.boot)) &&
           save("board.ini", boardIni(state));
}

std::optional<BoardState> loadStateFolder(const QString &folder, QString *error)
{
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return std::nullopt;
    BoardState state;
    if (!readBoardIni(dir.filePath("board.ini"), state, error) ||
        !readBinary(dir.filePath("spi-flash.bin"), state.spiFlash, error) ||
        !readBinary(dir.filePath("target-flash.bin"), state.targetFlash, error) ||
        !readBinary(dir.filePath("app.bin"), state.app, error) ||
        !readBinary(dir.filePath("boot.bin"), state.boot, error))
        return std::nullopt;
    return state;
}

// ---- The state folder's owner: one process at a time ----

std::unique_ptr<StateFolderLock> StateFolderLock::take(const QString &folder, bool *busy,
                                                       QString *error)
{
    *busy = false;
    if (!QDir(folder).mkpath(QStringLiteral("."))) {
        *error = QStringLiteral("cannot create ") + folder;
        return nullptr;
    }
    const QString path = QDir(folder).filePath(QStringLiteral(".lock"));
    if (!lockFileUsable(path, error))
        return nullptr;
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
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
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
