#pragma once

#include <QString>

#include <memory>

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
// one board plugged in. With a state folder the board starts from the folder and is written
// back to it by saveState, so a second run finds what the first one left. The folder is this
// process's while the bus lives: a second zqprog on it is refused as a busy board is, and the
// faults.ini there arms the board's fault switches (EmulatedFaults.h).
class ConsoleBus
{
public:
    explicit ConsoleBus(const Options &options);
    ~ConsoleBus();
    ConsoleBus(const ConsoleBus &) = delete;
    ConsoleBus &operator=(const ConsoleBus &) = delete;

    std::shared_ptr<usb::UsbTransport> transport() const { return transport_; }

    // Why the emulated board's state folder could not be read (no board is plugged in then,
    // and its state is not written back); empty when it could. loadErrorExit says how the run
    // ends: 3 when another process has the folder, as for a busy board, 1 otherwise.
    QString loadError() const { return loadError_; }
    int loadErrorExit() const { return loadErrorExit_; }

    // True when there is no state to keep, or it was kept; otherwise the reason.
    bool saveState(QString *error) const;

private:
    std::shared_ptr<usb::UsbTransport> transport_;
    std::unique_ptr<emu::StateFolderLock> lock_;
    std::shared_ptr<emu::Board> board_; // the emulated board, or null on USB
    QString stateFolder_;
    QString loadError_;
    int loadErrorExit_ = 0;
};

} // namespace zq::cli
