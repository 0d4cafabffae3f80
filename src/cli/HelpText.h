#pragma once

#include "cli/CommandLine.h"

#include <QString>

namespace zq::cli
{

// The help of one subcommand, or the overview for Command::None. Ends with a line end.
QString helpText(Command command);

} // namespace zq::cli
