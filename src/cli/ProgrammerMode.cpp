#include "cli/ProgrammerMode.h"

namespace zq::cli
{

QString modeText(int connectionMode)
{
    switch (connectionMode) {
    case kMcuUpdateMode:
        return QStringLiteral("update of the MCU code");
    case kNormalWorkMode:
        return QStringLiteral("normal work");
    default:
        return QStringLiteral("update of the boot loader");
    }
}

QString modeKey(int connectionMode)
{
    switch (connectionMode) {
    case kMcuUpdateMode:
        return QStringLiteral("mcu-update");
    case kNormalWorkMode:
        return QStringLiteral("normal");
    default:
        return QStringLiteral("boot-update");
    }
}

} // namespace zq::cli
