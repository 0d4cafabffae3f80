#include "common/ThreadLatency.h"

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sched.h>

#include <cerrno>
#include <cstdint>
#endif

namespace zq::common
{

#ifdef __linux__
namespace
{

// The kernel's struct sched_attr as of its first version (48 bytes); glibc has no wrapper yet.
struct SchedAttr {
    uint32_t size;
    uint32_t policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime; // for the fair policy: the thread's slice in ns (0: the default)
    uint64_t deadline;
    uint64_t period;
};

constexpr uint32_t kSchedOther = 0;
constexpr uint64_t kShortSliceNs = 100'000; // the shortest the kernel allows

bool setSlice(uint64_t sliceNs)
{
    // The call sets the nice value too: keep the thread's own (a thread's nice is its own on
    // Linux, and setpriority(2) with 0 names the calling thread).
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    if (errno != 0)
        return false;
    SchedAttr attr{};
    attr.size = sizeof attr;
    attr.policy = kSchedOther;
    attr.nice = nice;
    attr.runtime = sliceNs;
    return syscall(SYS_sched_setattr, 0, &attr, 0) == 0;
}

// A thread under another policy (real-time, batch, idle) is left as it is.
bool underFairPolicy()
{
    return sched_getscheduler(0) == kSchedOther;
}

} // namespace

bool requestShortTimeSlices()
{
    return underFairPolicy() && setSlice(kShortSliceNs);
}
#else
bool requestShortTimeSlices()
{
    return false;
}
#endif

#ifdef __linux__
void CoreFollower::attachCurrentThread()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    thread_ = int(gettid());
    core_.store(-1);
}

void CoreFollower::detachCurrentThread()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    thread_ = 0;
}

void CoreFollower::followCaller()
{
    const int core = sched_getcpu();
    if (core < 0 || core_.load() == core)
        return;
    // Under the lock the attached thread is alive, so its id is still its own.
    const std::lock_guard<std::mutex> lock(mutex_);
    if (thread_ == 0)
        return;
    core_.store(core);
    cpu_set_t cores;
    CPU_ZERO(&cores);
    CPU_SET(core, &cores);
    sched_setaffinity(thread_, sizeof cores, &cores); // refused: it stays where it is
}
#else
void CoreFollower::attachCurrentThread() {}
void CoreFollower::detachCurrentThread() {}
void CoreFollower::followCaller() {}
#endif

} // namespace zq::common
