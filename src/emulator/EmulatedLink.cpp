#include "EmulatedLink.h"

#include <algorithm>
#include <cstring>

namespace zq::emu
{

EmulatedLink::EmulatedLink(std::shared_ptr<Board> board, BusEvents events)
    : board_(std::move(board)), events_(std::move(events))
{
}

bool EmulatedLink::write(const uint8_t *data, int count)
{
    if (failed() || count < 0 || (data == nullptr && count > 0))
        return false;
    const char command = count >= 3 ? char(data[2]) : 0;
    const FrameFaults faults = board_->faults().onFrame(command);
    if (faults.boardGone) {
        fail();
        events_.boardGone();
        return false;
    }
    Board::Response response = board_->handleFrame(data, size_t(count));
    faults.damage(response.replies);
    queue(response.replies, faults);
    if (response.restartInto)
        restartAfterReply(*response.restartInto);
    return true;
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

int EmulatedLink::read(uint8_t *buffer, int capacity)
{
    int count = 0;
    std::optional<BoardMode> restart;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!waitForPacket(lock))
            return -1;
        count = take(buffer, capacity);
        restart = restartDue();
    }
    if (restart)
        events_.restart(*restart);
    return count;
}

bool EmulatedLink::waitForPacket(std::unique_lock<std::mutex> &lock)
{
    for (;;) {
        if (failed_)
            return false;
        if (pipe_.empty())
            changed_.wait(lock);
        else if (pipe_.front().readyAt > Clock::now())
            changed_.wait_until(lock, pipe_.front().readyAt);
        else
            return true;
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
