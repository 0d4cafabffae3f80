#pragma once

#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>

namespace zq::emu
{

// One open link to a plugged board. A written frame is handed to the board at once; its
// replies wait in the IN pipe until their time (faults may delay them) and are read in order.
// A board told to restart does so once the host has taken its reply (at once when a fault ate
// the reply, or when the host cancels instead of reading), so a slow host never misses it.
class EmulatedLink final : public BoardLink
{
public:
    using Clock = std::chrono::steady_clock;

    // What the board does to the bus, which the link cannot do itself.
    struct BusEvents {
        std::function<void()> boardGone;
        std::function<void(BoardMode)> restart;
    };

    EmulatedLink(std::shared_ptr<Board> board, BusEvents events);

    int send(const uint8_t *data, int count, uint32_t ticket) override;
    int receive(uint8_t *buffer, int capacity, uint32_t ticket,
                std::chrono::milliseconds timeout) override;
    void abort(uint32_t ticket) override;
    void cancel() override;

    // The board left the bus: a restart it was about to make is moot.
    void fail();

private:
    struct Queued {
        Packet packet;
        Clock::time_point readyAt;
    };

    struct PendingRestart {
        BoardMode mode;
        size_t packetsBefore; // packets still to be read up to and including the reply
    };

    bool failed() const;
    void queue(const std::vector<Packet> &replies, const FrameFaults &faults);
    void restartAfterReply(BoardMode mode);
    int hold(uint32_t ticket, const FrameFaults &faults);
    bool aborted(uint32_t ticket) const; // mutex_ held
    int waitForPacket(std::unique_lock<std::mutex> &lock, uint32_t ticket,
                      std::chrono::milliseconds timeout);
    int take(uint8_t *buffer, int capacity);
    std::optional<BoardMode> restartDue();

    std::shared_ptr<Board> board_;
    BusEvents events_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Queued> pipe_;
    bool failed_ = false;
    uint32_t abortedTicket_ = 0;
    std::optional<PendingRestart> restart_;
};

} // namespace zq::emu
