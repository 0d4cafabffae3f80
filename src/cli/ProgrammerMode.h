#pragma once

#include <QString>

namespace zq::cli
{

// The connection mode a programmer reported, for a reader ("normal work") and for a program
// ("normal", "mcu-update", "boot-update").
QString modeText(int connectionMode);
QString modeKey(int connectionMode);

} // namespace zq::cli
