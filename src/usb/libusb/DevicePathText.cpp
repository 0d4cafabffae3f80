#include "usb/libusb/DevicePathText.h"

#include <QRegularExpression>

namespace zq::usb
{

QString devicePathText(int bus, int address, uint16_t vendorId, uint16_t productId)
{
    return QStringLiteral("usb:%1-%2/vid_%3&pid_%4")
        .arg(bus, 3, 10, QLatin1Char('0'))
        .arg(address, 3, 10, QLatin1Char('0'))
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'));
}

bool parseDevicePathText(const QString &path, int *bus, int *address)
{
    static const QRegularExpression pattern(QStringLiteral("^usb:(\\d{1,3})-(\\d{1,3})/"));
    const QRegularExpressionMatch match = pattern.match(path);
    if (!match.hasMatch())
        return false;
    *bus = match.captured(1).toInt();
    *address = match.captured(2).toInt();
    return true;
}

} // namespace zq::usb
