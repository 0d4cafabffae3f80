#include "cli/ProgrammerMode.h"

namespace zq::cli
{

QString modeText(int connectionMode)
{
    switch (connectionMode) {
    case 0:
        return QStringLiteral("update of the MCU code");
    case 1:
        return QStringLiteral("normal work");
    default:
        return QStringLiteral("update of the boot loader");
    }
}

QString modeKey(int connectionMode)
{
    switch (connectionMode) {
    case 0:
        return QStringLiteral("mcu-update");
    case 1:
        return QStringLiteral("normal");
    default:
        return QStringLiteral("boot-update");
    }
}

} // namespace zq::cli
