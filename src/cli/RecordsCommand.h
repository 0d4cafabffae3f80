#pragma once

// zqprog records: what a line's record store holds, for the people who run the line (tables of
// attempts and yields) and for their programs (JSON, CSV). It only reads the store, except sync,
// which forwards what the spool kept while the store could not be reached.

#include "cli/CommandLine.h"
#include "cli/Output.h"

namespace zq::cli
{

// zqprog records ACTION: list, show SERIAL, yield, export, verify, sync.
SubcommandResult runRecordsCommand(const Options &options, Output &output);

} // namespace zq::cli
