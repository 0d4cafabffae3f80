#include "emulator/DelayedTasks.h"

namespace zq::emu
{

DelayedTasks::~DelayedTasks()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void DelayedTasks::schedule(Clock::time_point when, std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_)
            return;
        tasks_.emplace(when, std::move(task));
        if (!thread_.joinable())
            thread_ = std::thread(&DelayedTasks::run, this);
    }
    wake_.notify_all();
}

void DelayedTasks::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (tasks_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto first = tasks_.begin();
        // A copy: the wait reads the time again after it wakes, and by then the destructor may
        // have dropped the task that held it.
        const Clock::time_point due = first->first;
        if (due > Clock::now()) {
            wake_.wait_until(lock, due);
            continue;
        }
        std::function<void()> task = std::move(first->second);
        tasks_.erase(first);
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace zq::emu
