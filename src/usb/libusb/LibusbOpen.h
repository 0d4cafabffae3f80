#pragma once

#include "usb/UsbTransport.h"
#include "usb/libusb/LibusbContext.h"

#include <memory>

namespace zq::usb
{

// Opens the programmer at path (DevicePathText.h): claims interface 0 and finds its bulk pipes
// on alternate setting 0. Null and the cause on failure, with nothing left claimed or open.
std::shared_ptr<UsbChannel> openLibusbChannel(const std::shared_ptr<LibusbContext> &context,
                                              const QString &path, OpenError *error);

} // namespace zq::usb
