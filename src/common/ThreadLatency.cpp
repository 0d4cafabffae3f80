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

} // namespace zq::common
