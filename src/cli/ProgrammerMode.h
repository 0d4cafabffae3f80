#pragma once

#include <QString>

namespace zq::cli
{

// The connection modes a programmer reports when it is opened (ProgrammerState::connectionMode).
enum ConnectionModeValue : int { kMcuUpdateMode = 0, kNormalWorkMode = 1, kBootUpdateMode = 2 };

// The connection mode a programmer reported, for a reader ("normal work") and for a program
// ("normal", "mcu-update", "boot-update").
QString modeText(int connectionMode);
QString modeKey(int connectionMode);

} // namespace zq::cli
