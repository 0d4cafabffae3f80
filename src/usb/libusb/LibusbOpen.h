#pragma once

#include "usb/libusb/LibusbContext.h"
#include "usb/UsbTransport.h"

#include <memory>

namespace zq::usb
{

// Opens the programmer at bus and address: claims interface 0 and finds its bulk pipes on
// alternate setting 0. Null and the cause on failure, with nothing left claimed or open.
std::shared_ptr<UsbChannel> openLibusbChannel(const std::shared_ptr<LibusbContext> &context,
                                              int bus, int address, OpenError *error);

} // namespace zq::usb
