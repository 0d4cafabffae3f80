#include "emulator/EmulatedLink.h"

#include <algorithm>
#include <cstring>

namespace zq::emu
{

EmulatedLink::EmulatedLink(std::shared_ptr<Board> board, BusEvents events)
    : board_(std::move(board)), events_(std::move(events))
{
}

int EmulatedLink::send(const uint8_t *data, int count, uint32_t ticket)
{
    if (failed() || count < 0 || (data == nullptr && count > 0))
        return kGone;
    const char command = count >= 3 ? char(data[2]) : 0;
    FrameFaults faults = board_->faults().onFrame(command);
    if (faults.boardGone) {
        events_.boardGone(); // fails this link too
        fail();
        return kGone;
    }
    if (faults.holdMs > 0) {
        const int held = hold(ticket, faults);
        if (held != 0)
            return held;
    }
    Board::Response response = board_->handleFrame(data, size_t(count));
    if (command == 'H' || command == 'F' || command == 'J')
        faults.latencyMs += board_->blockWriteMs();
    faults.damage(response.replies);
    queue(response.replies, faults);
    if (response.restartInto)
        restartAfterReply(*response.restartInto);
    return count;
}

// The board NAKs the frame for a while. 0 when it then takes the frame.
int EmulatedLink::hold(uint32_t ticket, const FrameFaults &faults)
{
    const auto until = Clock::now() + std::chrono::milliseconds(faults.holdMs);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_until(lock, until,
                        [&] { return failed_ || (!faults.holdIgnoresAbort && aborted(ticket)); });
    if (failed_)
        return kGone;
    return aborted(ticket) && !faults.holdIgnoresAbort ? kAborted : 0;
}

bool EmulatedLink::aborted(uint32_t ticket) const
{
    return ticket != 0 && ticket == abortedTicket_;
}

void EmulatedLink::abort(uint32_t ticket)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abortedTicket_ = ticket;
    }
    changed_.notify_all();
}

void EmulatedLink::queue(const std::vector<Packet> &replies, const FrameFaults &faults)
{
    const auto latency = std::chrono::milliseconds(faults.latencyMs);
    Clock::time_point readyAt = Clock::now() + std::chrono::milliseconds(faults.lateMs);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Packet &packet : replies) {
            readyAt += latency;
            pipe_.push_back({packet, readyAt});
        }
    }
    changed_.notify_all();
}

void EmulatedLink::restartAfterReply(BoardMode mode)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pipe_.empty()) {
            restart_ = PendingRestart{mode, pipe_.size()};
            return;
        }
    }
    events_.restart(mode);
}

int EmulatedLink::receive(uint8_t *buffer, int capacity, uint32_t ticket,
                          std::chrono::milliseconds timeout)
{
    int count = 0;
    std::optional<BoardMode> restart;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const int waited = waitForPacket(lock, ticket, timeout);
        if (waited != 0)
            return waited;
        count = take(buffer, capacity);
        restart = restartDue();
    }
    if (restart)
        events_.restart(*restart);
    return count;
}

// 0 when a packet is ready to be taken.
int EmulatedLink::waitForPacket(std::unique_lock<std::mutex> &lock, uint32_t ticket,
                                std::chrono::milliseconds timeout)
{
    const bool limited = timeout.count() > 0;
    const Clock::time_point giveUp = Clock::now() + timeout;
    for (;;) {
        if (failed_)
            return kGone;
        if (aborted(ticket) || (limited && Clock::now() >= giveUp))
            return kAborted;
        Clock::time_point wakeAt = limited ? giveUp : Clock::time_point::max();
        if (!pipe_.empty()) {
            if (pipe_.front().readyAt <= Clock::now())
                return 0;
            wakeAt = std::min(wakeAt, pipe_.front().readyAt);
        }
        if (wakeAt == Clock::time_point::max())
            changed_.wait(lock);
        else
            changed_.wait_until(lock, wakeAt);
    }
}

int EmulatedLink::take(uint8_t *buffer, int capacity)
{
    const Packet packet = std::move(pipe_.front().packet);
    pipe_.pop_front();
    const int count = std::min(int(packet.size()), std::max(capacity, 0));
    if (count > 0)
        std::memcpy(buffer, packet.data(), size_t(count));
    return count;
}

std::optional<BoardMode> EmulatedLink::restartDue()
{
    if (!restart_ || --restart_->packetsBefore > 0)
        return std::nullopt;
    const BoardMode mode = restart_->mode;
    restart_.reset();
    return mode;
}

void EmulatedLink::cancel()
{
    std::optional<PendingRestart> restart;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        pipe_.clear();
        restart.swap(restart_);
    }
    changed_.notify_all();
    // The host gave up on the reply; the board, which cannot tell, restarts all the same.
    if (restart)
        events_.restart(restart->mode);
}

void EmulatedLink::fail()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        pipe_.clear();
        restart_.reset();
    }
    changed_.notify_all();
}

bool EmulatedLink::failed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

} // namespace zq::emu
