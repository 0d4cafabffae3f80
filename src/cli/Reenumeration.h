#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace zq::usb
{
class UsbTransport;
}

namespace zq::cli
{

// A programmer that has taken a new program restarts into it: it leaves the bus and comes back
// under a new path (a new address). Waits for that while the event loop runs, so the device
// news is handled as it comes. before is the list of programmers before the update. Returns
// the path it came back under, or an empty text when it has not come back within timeoutMs or
// stop said so (the user interrupted the wait).
QString waitForReturn(usb::UsbTransport &transport, const QString &oldPath,
                      const QStringList &before, int timeoutMs, const std::function<bool()> &stop);

} // namespace zq::cli
