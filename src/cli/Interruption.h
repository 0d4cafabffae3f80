#pragma once

namespace zq::cli
{

// Ctrl-C (SIGINT) and SIGTERM are counted instead of ending the process at once: the operation
// stops after the frame in flight (its waits end when the front end says stop), the log and the
// emulated board's state are completed, and zqprog exits 130. A third signal ends the process
// the default way, for a run that will not stop.
void installInterruptHandlers();

// How many signals have come so far.
int interruptCount();

} // namespace zq::cli
