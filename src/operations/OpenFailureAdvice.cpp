#include "Operations.h"

namespace zq::ops
{

// Said after "Open fail", so that a board that cannot be opened never leaves the user guessing.
QString openFailureAdvice(usb::OpenError error)
{
    switch (error) {
    case usb::OpenError::Permission:
        return QStringLiteral(
            "No permission to open the programmer: install the udev rule "
            "60-zq-programmer.rules into /etc/udev/rules.d (see the README, Linux permissions), "
            "then unplug and plug the programmer in again.");
    case usb::OpenError::Busy:
        return QStringLiteral("The programmer is in use by another program: close it and try "
                              "again.");
    case usb::OpenError::NotFound:
        return QStringLiteral("The programmer is gone: plug it in again.");
    case usb::OpenError::NoPipes:
        return QStringLiteral("The device offers no bulk IN and OUT pipes: it is not a working "
                              "programmer.");
    case usb::OpenError::None:
    case usb::OpenError::Other:
        break;
    }
    return QString();
}

} // namespace zq::ops
