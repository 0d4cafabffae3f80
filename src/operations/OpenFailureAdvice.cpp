#include "operations/Operations.h"

namespace zq::ops
{

// Said after "Open fail", so that a board that cannot be opened never leaves the user guessing.
QString openFailureAdvice(usb::OpenError error)
{
    switch (error) {
    case usb::OpenError::Permission:
        // The package installs the rule, so what is left there is the group (ssh sessions and
        // services have no seat for uaccess) and a replug; a build from source lacks the rule.
        return QStringLiteral(
            "No permission to open the programmer: add the user to the plugdev group (then log "
            "in again) and plug the programmer in again; built from source, first copy "
            "tools/60-zq-programmer.rules to /etc/udev/rules.d (README: \"Linux permissions\").");
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
