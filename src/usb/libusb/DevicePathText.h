#pragma once

#include <libusb.h>

#include <QString>

#include <cstdint>
#include <vector>

namespace zq::usb
{

// The libusb backends' device path names the board by where it is plugged in, its bus and the
// chain of hub ports from the root hub down, and carries the device's identity in the form
// Windows interface paths use: "usb:1-1.4/vid_5a17&pid_c0d2" is bus 1, port 4 of the hub in
// port 1. The address a board gets changes every time it enumerates (after an update, on a
// replug); the port chain does not, so a board keeps its path across a restart and when it is
// plugged into the same port again.
QString devicePathText(int bus, const std::vector<int> &ports, uint16_t vendorId,
                       uint16_t productId);
// The path of an attached device (also of one that has just left: libusb keeps its place).
QString devicePathText(libusb_device *device);

} // namespace zq::usb
