#pragma once

#include "emulator/BoardIdentity.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zq::emu
{

// Everything a board remembers between runs.
struct BoardState {
    BoardIdentity identity;
    TargetConfig target;
    std::vector<uint8_t> spiFlash;    // from address 0; the rest reads as erased
    std::vector<uint8_t> targetFlash; // likewise
    std::vector<uint8_t> app;         // the application image
    std::vector<uint8_t> boot;        // the boot loader image
    int blockWriteMs = 0;             // board.ini's block_write_ms: Board::blockWriteMs
};

// A state folder holds spi-flash.bin, target-flash.bin, app.bin, boot.bin (raw bytes; flash
// files without their erased tail) and board.ini (key=value lines: mode, versions, board MCU
// and id, flash id, target presence, id and flash size, block write time). Each file is written to
// a temporary name and renamed over the old one, so a process that dies while saving leaves every
// file either old or new, never torn; board.ini goes last. A file that is there but no regular
// file (a FIFO, a device, or a link to one) is left as it is, and the save fails.
bool saveStateFolder(const QString &folder, const BoardState &state);

// Nothing when the folder does not exist. Missing files and keys keep their defaults;
// board.ini values that do not parse are ignored. A file that is there but is no regular file
// (a FIFO would block the reader for good), or cannot be read whole, gives nothing too, and
// error names it.
std::optional<BoardState> loadStateFolder(const QString &folder, QString *error = nullptr);

// One process at a time owns a state folder, as one program at a time owns a real board: a
// second one would work on a copy and the last to save would silently undo the other's
// writes. The lock is an flock on ".lock" in the folder (creating the folder), which the
// system drops when the process ends however it ends, so a killed run never leaves it stale.
class StateFolderLock
{
public:
    // Null when another process holds the folder, or it or its .lock cannot be made (a .lock
    // that is no regular file, or links to none, is refused); busy says which.
    static std::unique_ptr<StateFolderLock> take(const QString &folder, bool *busy, QString *error);
    ~StateFolderLock();
    StateFolderLock(const StateFolderLock &) = delete;
    StateFolderLock &operator=(const StateFolderLock &) = delete;

private:
    explicit StateFolderLock(intptr_t handle) : handle_(handle) {}
    intptr_t handle_;
};

} // namespace zq::emu
