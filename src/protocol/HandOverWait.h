#pragma once

#include <chrono>
#include <functional>

class USB_BURN_CTRL;

namespace zq::protocol
{

// How long one look at the worker's flags stands for, by the command's wait style. A command's
// try counts become time-outs at this rate: the ratios between commands stay as they were.
enum class WaitStyle {
    Millisecond,     // about 1 ms a pass: commands that wait long and seldom
    TwoMicroseconds, // about 10 us a pass: the block commands, thousands per image
};

std::chrono::microseconds passDuration(WaitStyle style);
std::chrono::microseconds timeoutFor(WaitStyle style, int tries);

// How the window's thread passes the time while the worker works: it blocks on the hand-over
// until the worker signals, at most for a slice, so that it can let its events run in between.
// Tests put a clock of their own in its place and so run a 25 s time-out in no time.
class HandOverWait
{
public:
    using Clock = std::chrono::steady_clock;

    // The longest the window's thread goes without letting its events run.
    static constexpr auto kEventSlice = std::chrono::milliseconds(5);

    virtual ~HandOverWait() = default;
    virtual Clock::time_point now() const;
    // Returns when ready() holds or the worker has signalled, and after at most limit.
    virtual void block(USB_BURN_CTRL &worker, Clock::duration limit,
                       const std::function<bool()> &ready);

    // The steady clock and the worker's own signal.
    static HandOverWait &system();
};

} // namespace zq::protocol
