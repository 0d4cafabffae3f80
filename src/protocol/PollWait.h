#pragma once

namespace zq::protocol
{

// How the window's thread waits between two looks at the worker's flags.
enum class WaitStyle {
    Millisecond,     // sleeps 1 ms: commands that wait long and seldom
    TwoMicroseconds, // spins 2 us without yielding: the block commands, thousands per image
};

void waitOnce(WaitStyle style);

} // namespace zq::protocol
