#pragma once

namespace zq::cli
{

// What a script sees of a run.
enum ExitCode : int {
    Success = 0,
    OperationFailed = 1, // the operation failed or was refused; the reason was printed
    UsageError = 2,
    NoBoard = 3, // none, several without --device, or the board cannot be opened or answers not
    Interrupted = 130, // SIGINT or SIGTERM stopped the run, as a shell reports a Ctrl-C
};

} // namespace zq::cli
