#include "protocol/HandOverWait.h"

#include "common/ThreadLatency.h"
#include "usb/UsbBurnCtrl.h"

namespace zq::protocol
{

std::chrono::microseconds passDuration(WaitStyle style)
{
    return style == WaitStyle::Millisecond ? std::chrono::microseconds(1000)
                                           : std::chrono::microseconds(10);
}

std::chrono::microseconds timeoutFor(WaitStyle style, int tries)
{
    return passDuration(style) * std::max(tries, 0);
}

HandOverWait::Clock::time_point HandOverWait::now() const
{
    return Clock::now();
}

void HandOverWait::block(USB_BURN_CTRL &worker, Clock::duration limit,
                         const std::function<bool()> &ready)
{
    // Woken by the worker's signal, this thread should run at once, busy machine or not. It keeps
    // the short slice from its first wait on: each change of slice may cost it its turn.
    static thread_local const bool promptWakeUp = common::requestShortTimeSlices();
    (void)promptWakeUp;
    worker.waitForWorker(limit, ready);
}

HandOverWait &HandOverWait::system()
{
    static HandOverWait wait;
    return wait;
}

} // namespace zq::protocol
