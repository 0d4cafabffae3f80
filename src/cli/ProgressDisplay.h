#pragma once

#include <cstdio>

namespace zq::cli
{

// The progress of a block transfer on stdout: a bar that redraws itself on a terminal, and a
// plain "Progress: 42%" line for each new value anywhere else (a pipe, a file, a CI log).
// Log lines are written between bars, never into one.
class ProgressDisplay
{
public:
    ProgressDisplay(std::FILE *stream, bool terminal);

    void show(int percent);
    // Around a log line: the bar steps aside and comes back below it while work goes on.
    void beforeLine();
    void afterLine();
    // The operation is over: no bar remains.
    void finish();

private:
    void draw();

    std::FILE *stream_;
    bool terminal_;
    int percent_ = -1;
    bool drawn_ = false;
};

} // namespace zq::cli
