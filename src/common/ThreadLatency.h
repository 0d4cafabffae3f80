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

namespace zq::common
{

// Asks for short slices for the calling thread from now on; false where that is not available
// (another platform, a thread under a real-time or batch policy, a refusal).
bool requestShortTimeSlices();

} // namespace zq::common
