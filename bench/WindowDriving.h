#pragma once

#include <QString>

#include <functional>

class MainWindow;

namespace zq::bench
{

// Runs the event loop until the condition holds or the time is up; true when it holds.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);

// Runs the event loop for the given time, nothing else.
void runEventLoopFor(int milliseconds);

// Waits until the window lists path, selects it and presses "Open programmer", as a user would.
// A message box the open may show is closed, so that a benchmark never waits on a human. True
// when the programmer is open and its worker runs.
bool openListedProgrammer(MainWindow &window, const QString &path);

} // namespace zq::bench
