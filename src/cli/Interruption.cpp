#include "cli/Interruption.h"

#include <atomic>
#include <csignal>

namespace zq::cli
{

namespace
{

constexpr int kSignalsBeforeDefault = 3;

std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free, "counted from a signal handler");

extern "C" void countSignal(int number)
{
    if (received.fetch_add(1) + 1 >= kSignalsBeforeDefault) {
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    std::signal(number, countSignal); // where a handler is reset when it runs
}

} // namespace

void installInterruptHandlers()
{
    std::signal(SIGINT, countSignal);
    std::signal(SIGTERM, countSignal);
}

int interruptCount()
{
    return received.load();
}

} // namespace zq::cli
