#pragma once

#include <QString>

#include <cstdint>

namespace zq
{
class FrontEnd;
}

namespace zq::ops
{

// The "Timer:" line with the local time, written at the start and after the main steps of the
// long operations so the user can see how long each step took.
void logTimestamp(FrontEnd &frontEnd);

// A failed block: the prefix, the address in lower-case hex without padding, and the result,
// with nothing between them ("NG, Addr : 0x12000-2").
QString blockFailureLine(const QString &prefix, uint32_t address, int result);

} // namespace zq::ops
