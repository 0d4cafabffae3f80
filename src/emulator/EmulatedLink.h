#pragma once

#include "Board.h"
#include "EmulatedBus.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>

namespace zq::emu
{

// One open link to a plugged board. A written frame is handed to the board at once; its
// replies wait in the IN pipe until their time (faults may delay them) and are read in order.
class EmulatedLink final : public BoardLink
{
public:
    using Clock = std::chrono::steady_clock;

    // What the board does to the bus, which the link cannot do itself.
    struct BusEvents {
        std::function<void()> boardGone;
        std::function<void(BoardMode, Clock::time_point lastReply)> restart;
    };

    EmulatedLink(std::shared_ptr<Board> board, BusEvents events);

    bool write(const uint8_t *data, int count) override;
    int read(uint8_t *buffer, int capacity) override;
    void cancel() override { fail(); }

    // The board left the bus.
    void fail();

private:
    struct Queued {
        Packet packet;
        Clock::time_point readyAt;
    };

    bool failed() const;
    Clock::time_point queue(const std::vector<Packet> &replies, const FrameFaults &faults);
    int take(uint8_t *buffer, int capacity);

    std::shared_ptr<Board> board_;
    BusEvents events_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Queued> pipe_;
    bool failed_ = false;
};

} // namespace zq::emu
