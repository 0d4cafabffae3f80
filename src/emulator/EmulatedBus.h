#pragma once

#include "emulator/BoardIdentity.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zq::emu
{

class Board;
class DelayedTasks;

// The host's end of one plugged board's two bulk pipes, as the emulated UsbDevice backend uses
// them. Thread-safe: the worker thread writes and reads while the window's thread may abort or
// cancel.
class BoardLink
{
public:
    static constexpr int kGone = -1;    // the board has gone (unplugged, "board gone"), or cancel()
    static constexpr int kAborted = -2; // abort() of the transfer's ticket, or its time-out

    virtual ~BoardLink() = default;

    // Bulk OUT: hands one command frame to the board. Returns count, or kGone / kAborted.
    virtual int send(const uint8_t *data, int count, uint32_t ticket) = 0;

    // Bulk IN: waits for the board's next reply packet, at most timeout (0: no limit), and copies
    // at most capacity bytes of it. Returns the packet's length (0 for a zero-length packet), or
    // kGone / kAborted, also when they happen while the call is waiting.
    virtual int receive(uint8_t *buffer, int capacity, uint32_t ticket,
                        std::chrono::milliseconds timeout) = 0;

    // Ends the transfer that carries ticket (not 0), pending or not yet begun; later ones go on.
    virtual void abort(uint32_t ticket) = 0;

    // Ends a pending or later write/read with failure, from any thread. Idempotent.
    virtual void cancel() = 0;

    // Plain transfers, with no ticket and no time-out.
    bool write(const uint8_t *data, int count) { return send(data, count, 0) >= 0; }
    int read(uint8_t *buffer, int capacity) { return receive(buffer, capacity, 0, {}); }
};

// The emulated USB bus: boards are plugged into its ports and unplugged from them. A plugged
// board's device path names its port, as a real board's names its USB port chain, and holds the
// identity fragment "vid_5a17&pid_c0d2": "emu:1-3 vid_5a17&pid_c0d2" is the board in port 3 of
// bus 1. A board that restarts comes back into its own port, so under the path it had.
class EmulatedBus
{
public:
    // arrived = true for a plug, false for an unplug; path is the board's device path.
    using Listener = std::function<void(bool arrived, const QString &path)>;

    static constexpr int kNextFreePort = 0;

    static EmulatedBus &instance();

    // Plugs a board into port (1 and up) and returns its path; empty when another board holds
    // that port (plugged, or away for a restart). kNextFreePort takes the port after the last one
    // given that nobody holds, so a board plugged fresh gets a path not seen before; a board put
    // back into the port it was pulled from gets its old path again. A restart the board had
    // begun is called off; a board already plugged stays where it is.
    QString plug(std::shared_ptr<Board> board, int port = kNextFreePort);
    // Unplugs: open links fail from now on (a pending read returns -1 promptly). A restart the
    // board in that port had begun is called off, also once it has left the bus: it does not
    // come back by itself.
    void unplug(const QString &path);
    void unplugAll();

    QStringList paths() const;                               // plugged boards, in plug order
    std::shared_ptr<Board> board(const QString &path) const; // null when not plugged
    std::shared_ptr<BoardLink> open(const QString &path);    // null when not plugged

    // Listeners are called on the thread that plugs or unplugs, after the bus has changed and
    // with no lock of the bus's data held (paths() and board() may be called). A board that
    // restarts is unplugged and plugged on the bus's own thread, and one that drops off on the
    // thread whose transfer found it gone, so a listener must be ready to be called from any
    // thread, and must not wait for another thread that is plugging or unplugging.
    int addListener(Listener listener);
    void removeListener(int id);

private:
    EmulatedBus();
    ~EmulatedBus();
    struct Slot;

    std::shared_ptr<Slot> findSlot(const QString &path) const; // mutex_ held
    bool portHeld(int port) const;                             // mutex_ held
    int nextFreePort();                                        // mutex_ held
    QString attach(std::shared_ptr<Board> board, int port);    // changes_ held
    bool detach(const QString &path, const Board *expected);   // changes_ held
    void notify(bool arrived, const QString &path);            // changes_ held
    std::shared_ptr<BoardLink> makeLink(int port, std::shared_ptr<Board> board);
    void dropGoneBoard(int port, const std::shared_ptr<Board> &board);
    void leaveForRestart(int port, const std::shared_ptr<Board> &board, BoardMode mode);
    void returnFromRestart(const std::shared_ptr<Board> &board);

    // One plug or unplug and its notifications at a time, so listeners see them in order.
    std::recursive_mutex changes_;
    // Guards the members below; never held while a listener runs.
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Slot>> slots_;
    // Boards that restart, each with the port it comes back to (it holds that port meanwhile).
    std::map<const Board *, int> restarting_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListenerId_ = 1;
    int nextPort_ = 1;
    std::unique_ptr<DelayedTasks> tasks_;
};

} // namespace zq::emu
