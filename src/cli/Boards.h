#pragma once

#include "protocol/CommandSet.h"
#include "usb/UsbTransport.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace zq::ops
{
class ProgrammerLink;
}

namespace zq::cli
{

// Telling programmers apart and choosing one. A board is named three ways, each printed by
// `zqprog list` and each accepted by --device, whole or as a unique prefix:
//   - its board id, "0x00012345" (what the board says when it is opened; survives everything);
//   - its port path, "1-1.4" (bus 1, port 4 of the hub in port 1; the emulator's "emu:1-2",
//     port 2 of its bus), which stays while the board stays in that port;
//   - its device path, "usb:1-1.4/vid_5a17&pid_c0d2", which holds a '&' and needs quoting.
// What zqprog prints for a reader to type back (ids and port paths) never needs quoting.

// The port path within a device path; empty where the path has none (a Windows interface path).
QString portOfPath(const QString &path);

// What opening a board and asking who it is (as "Open programmer" does, silently) found out.
struct BoardProbe {
    QString path;
    QString port;
    bool opened = false;
    usb::OpenError openError = usb::OpenError::None;
    int connectCode = 0;             // the connect's result, once opened
    std::optional<uint32_t> boardId; // once it identified itself
    protocol::ConnectionMode mode = protocol::ConnectionMode::Unknown; // its mode then
    uint32_t bootVersion = 0;
    uint32_t appVersion = 0;

    // Identified, in normal work: download, check, program and verify may run on it.
    bool ready() const;
    // How zqprog names the board in its lines: the id, else the port path, else the path.
    QString tag() const;
    // What to give --device to get this board: the port path, else the id.
    QString selector() const;
};

// Opens the board at path, identifies it and closes it again; nothing is shown. The waits end
// when stop says so (by default at a Ctrl-C or SIGTERM).
BoardProbe probeBoard(const std::shared_ptr<usb::UsbTransport> &transport, const QString &path,
                      const std::function<bool()> &stop = {});
// Every programmer found; identified (opened) only when identify says so.
QList<BoardProbe> findBoards(const std::shared_ptr<usb::UsbTransport> &transport, bool identify);

struct BoardChoice {
    QString path;     // the programmer to use
    QString error;    // not empty when there is none to use
    int exitCode = 0; // 3 for none, not found or several unasked; 2 for an ambiguous --device
};

// Whether choosing by wanted needs the boards' ids, i.e. they must be identified first.
bool choosingNeedsIds(const QString &wanted);
// Picks the programmer among those found: the one --device names (a whole id, port path or
// path first, else the only board one of them starts with), else the only one. Nothing is
// guessed: several boards and no --device, or a prefix that fits several, is an error that
// lists them.
BoardChoice chooseBoard(const QList<BoardProbe> &found, const QString &wanted);

// The device paths the link's device news has reported gone while the watch lives; the news
// still reaches the operations as before. A board named by its port can be back under its old
// path before the bus is searched again: only the news tells that it left.
class LeavingWatch
{
public:
    explicit LeavingWatch(ops::ProgrammerLink &link);
    ~LeavingWatch(); // the link's own handling of the news again
    LeavingWatch(const LeavingWatch &) = delete;
    LeavingWatch &operator=(const LeavingWatch &) = delete;

    bool left(const QString &path) const { return left_.contains(path); }

private:
    ops::ProgrammerLink &link_;
    QStringList left_;
};

// A programmer that has taken a new program restarts into it: it leaves the bus and comes back,
// under the path of its port (as an emulated board does; under a new one where a path names an
// address). Waits for it while the event loop runs, so the device news is handled as it comes.
// before is the list of programmers before the update, and leaving has watched the news since
// then; boardId, when known, is the id it must have: another board that comes or comes back
// meanwhile is not taken for it. Returns the path it came back under, or an empty text when it
// has not come back within timeoutMs or stop said so (the user interrupted).
QString waitForReturn(const std::shared_ptr<usb::UsbTransport> &transport, const QString &oldPath,
                      const QStringList &before, const LeavingWatch &leaving,
                      std::optional<uint32_t> boardId, int timeoutMs,
                      const std::function<bool()> &stop);

} // namespace zq::cli
