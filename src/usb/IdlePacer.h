#pragma once

#include <chrono>
#include <thread>

namespace zq::usb
{

// Paces the transfer worker's polling. Requests come in bursts (a frame, its reply, the next
// block's frame), so right after one the worker keeps spinning and takes the next up at once.
// Once the bursts stop it sleeps between polls: a request meeting a sleeping worker waits about
// 1 ms at most, which the send tries of every command (a second or more) cover many times over.
// Each wake-up costs CPU (some 20 us on a virtual machine), so the sleep is no shorter than
// needed.
class IdlePacer
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kSpinAfterRequest = std::chrono::milliseconds(5);
    static constexpr auto kIdleSleep = std::chrono::milliseconds(1);

    IdlePacer() : lastRequest_(Clock::now()) {}

    void requestServed() { lastRequest_ = Clock::now(); }

    // One empty pass of the poll loop.
    void idlePass() const
    {
        if (Clock::now() - lastRequest_ < kSpinAfterRequest)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(kIdleSleep);
    }

private:
    Clock::time_point lastRequest_;
};

} // namespace zq::usb
