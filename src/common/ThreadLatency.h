#pragma once

// How the threads that hand each exchange to one another (the worker, and the window's thread
// once it waits for the worker) ask the scheduler to run them soon after they wake.
//
// Every frame wakes the worker and every reply wakes the waiting thread. On a machine whose
// cores are busy with other work, a woken thread with the default time slice may wait for a busy
// process's slice to end: twice per exchange, thousands of times per image. A short slice (Linux
// 6.12 and later: the fair scheduler's per-thread slice) lets a woken thread go first without
// raising its priority or its share of the CPU. Elsewhere, or where the kernel refuses, nothing
// changes.

#include <atomic>
#include <mutex>

namespace zq::common
{

// Asks for short slices for the calling thread from now on; false where that is not available
// (another platform, a thread under a real-time or batch policy, a refusal).
bool requestShortTimeSlices();

// Keeps a thread on the core of the thread that hands it work. The two take turns and never run
// at once, so one core serves them both, and each hand-over is then a switch on that core
// instead of a wake-up on another one: no waiting for a busy process there to make room, no
// cold cache, no idle core to wake first. The follower goes where the leader last asked from;
// the leader itself stays free, so the pair still moves away from a crowded core. Linux only;
// elsewhere, or where the system refuses, nothing changes.
class CoreFollower
{
public:
    // On the following thread, once, before it first waits for work.
    void attachCurrentThread();
    // On the following thread, last, before it ends: its id may then go to any thread of any
    // process, which must never be moved in its place.
    void detachCurrentThread();
    // On the leading thread, before each wake-up of the follower: costs a system call only when
    // the leader has moved to another core since the last one. Does nothing while no thread is
    // attached.
    void followCaller();

private:
    std::mutex mutex_;          // the follower cannot end while it is being moved
    int thread_ = 0;            // the follower's thread id; 0 while none is attached
    std::atomic<int> core_{-1}; // where it was last sent
};

} // namespace zq::common
