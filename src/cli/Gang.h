#pragma once

#include "cli/Output.h"

namespace zq::cli
{

struct Options;

// --all: download, check, program or verify on every ready programmer at once, as a gang
// programmer on a production line does. zqprog runs one zqprog per programmer found (--device
// with its port path, or each --emulated board on its own state folder), all at the same time;
// each process opens, identifies and refuses or works its board, with its own worker and its
// own log file lines, so a board that fails or hangs costs only itself. Their lines reach the
// console tagged with the board's id ("[0x00012345] Download end!"; the lines before the board
// identified itself wait for it); under --json they pass on as they are, each with its
// "board". A summary follows: one row per board with its result, code and time. The run
// succeeds only when every board found did; a board that is not ready (cannot be opened, or
// not in normal work) counts as failed, since its unit was not handled.
SubcommandResult runOnAllBoards(const Options &options, Output &output);

} // namespace zq::cli
