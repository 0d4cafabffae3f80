#pragma once

#include "emulator/BoardIdentity.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
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

// The emulated USB bus: boards are plugged into it and unplugged from it; each plugged board has
// a device path that, like a real path, holds the identity fragment "vid_5a17&pid_c0d2".
class EmulatedBus
{
public:
    // arrived = true for a plug, false for an unplug; path is the board's device path.
    using Listener = std::function<void(bool arrived, const QString &path)>;

    static EmulatedBus &instance();

    // Plugs a board in and returns its new path. Every plug gets a new path (a new address),
    // as a real board that re-enumerates does. A board already plugged keeps its path.
    QString plug(std::shared_ptr<Board> board);
    // Unplugs: open links fail from now on (a pending read returns -1 promptly). A restart the
    // board had begun is called off: it does not come back by itself.
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
    QString attach(std::shared_ptr<Board> board);              // changes_ held
    bool detach(const QString &path, const Board *expected);   // changes_ held
    void notify(bool arrived, const QString &path);            // changes_ held
    std::shared_ptr<BoardLink> makeLink(const QString &path, std::shared_ptr<Board> board);
    void dropGoneBoard(const QString &path, const std::shared_ptr<Board> &board);
    void leaveForRestart(const QString &path, const std::shared_ptr<Board> &board, BoardMode mode);
    void returnFromRestart(const std::shared_ptr<Board> &board);

    // One plug or unplug and its notifications at a time, so listeners see them in order.
    std::recursive_mutex changes_;
    // Guards the members below; never held while a listener runs.
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Slot>> slots_;
    std::set<const Board *> restarting_; // boards off the bus for a restart, coming back
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListenerId_ = 1;
    unsigned nextAddress_ = 2;
    std::unique_ptr<DelayedTasks> tasks_;
};

} // namespace zq::emu
