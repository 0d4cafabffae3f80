#include "cli/OpenErrorText.h"

namespace zq::cli
{

QString openErrorReason(usb::OpenError error)
{
    switch (error) {
    case usb::OpenError::Permission:
        return QStringLiteral("no permission");
    case usb::OpenError::Busy:
        return QStringLiteral("busy, in use by another program");
    case usb::OpenError::NotFound:
        return QStringLiteral("gone");
    case usb::OpenError::NoPipes:
        return QStringLiteral("no bulk pipes, not a working programmer");
    case usb::OpenError::None:
    case usb::OpenError::Other:
        break;
    }
    return QStringLiteral("cannot be opened");
}

} // namespace zq::cli
