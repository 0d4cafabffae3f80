#pragma once

#include "cli/Options.h"

#include <QString>

namespace zq::ops
{
struct ProgrammerState;
}

namespace zq::cli
{

class ConsoleFrontEnd;

// The window lets the user start an operation only through a button it has enabled; zqprog
// refuses what that button would not have allowed, and says why. Empty when allowed.

// What needs no programmer to judge: the boot update is never started unasked.
QString refusalBeforeOpening(const Options &options);

// After a successful connect, from the buttons the connect left enabled.
QString refusalAfterConnect(Command command, const ops::ProgrammerState &state,
                            const ConsoleFrontEnd &buttons);

} // namespace zq::cli
