#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace zq::emu {

class Board;

// The host's end of one plugged board's two bulk pipes, as the emulated UsbDevice backend uses
// them. Thread-safe: the worker thread writes and reads while the window's thread may cancel.
class BoardLink
{
public:
    virtual ~BoardLink() = default;

    // Bulk OUT: hands one command frame to the board. False when the board has gone (unplugged,
    // or its "board gone" fault fired) or the link was cancelled.
    virtual bool write(const uint8_t *data, int count) = 0;

    // Bulk IN: waits for the board's next reply packet and copies at most capacity bytes of it.
    // Returns the packet's length (0 for a zero-length packet), or -1 when the board has gone or
    // cancel() was called, including while the call is waiting.
    virtual int read(uint8_t *buffer, int capacity) = 0;

    // Ends a pending or later write/read with failure, from any thread. Idempotent.
    virtual void cancel() = 0;
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
    // as a real board that re-enumerates does.
    QString plug(std::shared_ptr<Board> board);
    // Unplugs: open links fail from now on (a pending read returns -1 promptly).
    void unplug(const QString &path);
    void unplugAll();

    QStringList paths() const;                                 // plugged boards, in plug order
    std::shared_ptr<Board> board(const QString &path) const;   // null when not plugged
    std::shared_ptr<BoardLink> open(const QString &path);      // null when not plugged

    // Listeners are called on the thread that plugs or unplugs, after the bus has changed.
    int addListener(Listener listener);
    void removeListener(int id);

private:
    EmulatedBus() = default;
    struct Slot;
    mutable std::recursive_mutex mutex_;
    std::vector<std::shared_ptr<Slot>> slots_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListenerId_ = 1;
    unsigned nextAddress_ = 2;
};

} // namespace zq::emu
