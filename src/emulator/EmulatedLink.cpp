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
    const Clock::time_point lastReply = queue(response.replies, faults);
    if (response.restartInto)
        events_.restart(*response.restartInto, lastReply);
    return true;
}

EmulatedLink::Clock::time_point EmulatedLink::queue(const std::vector<Packet> &replies,
                                                    const FrameFaults &faults)
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
    return readyAt;
}

int EmulatedLink::read(uint8_t *buffer, int capacity)
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (failed_)
            return -1;
        if (pipe_.empty()) {
            changed_.wait(lock);
        } else if (pipe_.front().readyAt > Clock::now()) {
            changed_.wait_until(lock, pipe_.front().readyAt);
        } else {
            return take(buffer, capacity);
        }
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

void EmulatedLink::fail()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        pipe_.clear();
    }
    changed_.notify_all();
}

bool EmulatedLink::failed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

} // namespace zq::emu
