#include "usb/libusb/DevicePathText.h"

#include <QStringList>

namespace zq::usb
{

namespace
{

// USB allows at most seven tiers below the root hub.
constexpr int kMaxPortChain = 7;

} // namespace

QString devicePathText(int bus, const std::vector<int> &ports, uint16_t vendorId,
                       uint16_t productId)
{
    QStringList chain;
    for (int port : ports)
        chain << QString::number(port);
    return QStringLiteral("usb:%1-%2/vid_%3&pid_%4")
        .arg(bus)
        .arg(chain.join(QLatin1Char('.')))
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'));
}

QString devicePathText(libusb_device *device)
{
    uint8_t numbers[kMaxPortChain] = {};
    const int count = libusb_get_port_numbers(device, numbers, kMaxPortChain);
    const std::vector<int> ports(numbers, numbers + (count > 0 ? count : 0));
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    return devicePathText(libusb_get_bus_number(device), ports, descriptor.idVendor,
                          descriptor.idProduct);
}

} // namespace zq::usb
