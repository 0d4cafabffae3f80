#pragma once

#include <QString>

#include <cstdint>

namespace zq::usb
{

// The libusb backends' device path: names one attached device instance by bus and address and
// carries the device's identity in the form Windows interface paths use, for example
// "usb:001-004/vid_5a17&pid_c0d2". A board that re-enumerates gets a new address, hence a new path.
QString devicePathText(int bus, int address, uint16_t vendorId, uint16_t productId);

// Reads the bus and address back; false for a text that is not such a path.
bool parseDevicePathText(const QString &path, int *bus, int *address);

} // namespace zq::usb
