#pragma once

#include <QString>

namespace zq::ops
{
struct ProgrammerState;
}

namespace zq::cli
{

struct CommandResult;

// What info shows: the identity the connect read, in the order of the window's fields, as
// lines for a reader and as fields of the JSON result.
void reportIdentity(const QString &path, const ops::ProgrammerState &state, CommandResult &result);

} // namespace zq::cli
