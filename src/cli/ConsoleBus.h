#pragma once

#include <QString>

#include <memory>
#include <vector>

namespace zq::emu
{
class Board;
class StateFolderLock;
} // namespace zq::emu
namespace zq::usb
{
class UsbTransport;
}

namespace zq::cli
{

struct Options;

// The bus zqprog works on: the platform's USB, or with --emulated the built-in emulator with
// one board plugged in for each --emulated given. A board with a state folder starts from the
// folder and is written back to it by saveState, so a second run finds what the first one left.
// The folder is this process's while the bus lives: a second zqprog on it is refused as a busy
// board is, and the faults.ini there arms the board's fault switches (EmulatedFaults.h). Boards
// with no board.ini yet get board ids one apart (0x00012345, 0x00012346, ...), as real boards
// have ids of their own.
class ConsoleBus
{
public:
    explicit ConsoleBus(const Options &options);
    ~ConsoleBus();
    ConsoleBus(const ConsoleBus &) = delete;
    ConsoleBus &operator=(const ConsoleBus &) = delete;

    std::shared_ptr<usb::UsbTransport> transport() const { return transport_; }

    // Why an emulated board's state folder could not be read (no board is plugged in then, and
    // no state is written back); empty when it could. loadErrorExit says how the run ends: 3
    // when another process has the folder, as for a busy board, 1 otherwise.
    QString loadError() const { return loadError_; }
    int loadErrorExit() const { return loadErrorExit_; }

    // True when there is no state to keep, or all of it was kept; otherwise the reason.
    bool saveState(QString *error) const;

    // What a bus of these folders would do to boards with no board.ini yet, done without a bus:
    // every board but the first gets its own id, kept in its folder.
    static void giveFreshBoardsIds(const QStringList &folders);

private:
    struct EmulatedBoard {
        QString folder; // empty: a fresh board
        std::unique_ptr<emu::StateFolderLock> lock;
        std::shared_ptr<emu::Board> board;
    };
    bool plugEmulated(const QString &folder, int index);

    std::shared_ptr<usb::UsbTransport> transport_;
    std::vector<EmulatedBoard> boards_;
    QString loadError_;
    int loadErrorExit_ = 0;
};

} // namespace zq::cli
