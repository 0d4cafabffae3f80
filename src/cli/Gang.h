#pragma once

#include "cli/Output.h"

namespace zq::cli
{

struct Options;

// --all: download, check, program or verify on every ready programmer at once, as a gang
// programmer on a production line does. zqprog finds and identifies the boards, then runs one
// zqprog per ready board (--device with its port path, or its own --emulated folder), all at the
// same time; each process owns its board, its worker and its log file lines, so a board that
// fails or hangs costs only itself. Their lines reach the console tagged with the board's id
// ("[0x00012345] Download end!"); under --json they pass on as they are, each with its "board".
// A summary follows: one row per board with its result, code and time. The run succeeds only
// when every board found did; a board that is not ready (cannot be opened, not in normal work)
// counts as failed, since its unit was not handled.
CommandResult runOnAllBoards(const Options &options, Output &output);

} // namespace zq::cli
