#pragma once

// The one-line checks of the Windows smoke programs: a failed check is printed with its line and
// counted, and the program's exit status says whether any failed.

#include <cstdio>

namespace zq::smoke
{

inline int failures = 0;

inline void check(bool condition, const char *what, const char *file, int line)
{
    if (!condition) {
        std::printf("FAIL %s:%d: %s\n", file, line, what);
        ++failures;
    }
}

// The exit status of a smoke program named name.
inline int verdict(const char *name)
{
    if (failures != 0) {
        std::printf("%s: %d check(s) failed\n", name, failures);
        return 1;
    }
    std::printf("%s: all checks passed\n", name);
    return 0;
}

} // namespace zq::smoke

#define CHECK(condition) ::zq::smoke::check((condition), #condition, __FILE__, __LINE__)
