#pragma once

// QThread tells the end of run() to isRunning() and wait() through Qt's own lock, which the
// thread sanitizer cannot see when Qt itself is not instrumented. Without these marks it takes
// the destructor's writes, and those of the next object in the same memory, for races with the
// worker's last stores. They compile to nothing in other builds.

#if defined(__SANITIZE_THREAD__)
#define ZQ_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZQ_THREAD_SANITIZER 1
#endif
#endif

#if defined(ZQ_THREAD_SANITIZER)
#include <sanitizer/tsan_interface.h>
#endif

namespace zq::usb
{

// Last thing the thread does with object.
inline void announceThreadEnd([[maybe_unused]] void *object)
{
#if defined(ZQ_THREAD_SANITIZER)
    __tsan_release(object);
#endif
}

// After the owner has seen the thread end.
inline void observeThreadEnd([[maybe_unused]] void *object)
{
#if defined(ZQ_THREAD_SANITIZER)
    __tsan_acquire(object);
#endif
}

} // namespace zq::usb
