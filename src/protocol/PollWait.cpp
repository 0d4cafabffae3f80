#include "PollWait.h"

#include <QThread>

#include <chrono>

namespace zq::protocol
{

namespace
{

// A sleep would last far longer than 2 us on every scheduler, so this one spins.
void busyWait(std::chrono::microseconds duration)
{
    const auto target = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < target) {
    }
}

} // namespace

void waitOnce(WaitStyle style)
{
    if (style == WaitStyle::Millisecond)
        QThread::msleep(1);
    else
        busyWait(std::chrono::microseconds(2));
}

} // namespace zq::protocol
