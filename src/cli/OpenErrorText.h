#pragma once

#include "usb/UsbTransport.h"

#include <QString>

namespace zq::cli
{

// A few words for why a programmer could not be opened ("no permission", "busy", "gone").
QString openErrorReason(usb::OpenError error);

} // namespace zq::cli
