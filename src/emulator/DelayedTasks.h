#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace zq::emu
{

// One background thread that runs tasks at their time: the bus's own clock for what a board
// does by itself (leaving the bus, coming back). A task runs on this thread with no lock held.
class DelayedTasks
{
public:
    using Clock = std::chrono::steady_clock;

    DelayedTasks() = default;
    ~DelayedTasks(); // drops the tasks still waiting and joins the thread
    DelayedTasks(const DelayedTasks &) = delete;
    DelayedTasks &operator=(const DelayedTasks &) = delete;

    void schedule(Clock::time_point when, std::function<void()> task);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace zq::emu
