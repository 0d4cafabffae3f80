#include "Operations.h"
#include "Session.h"

#include "FrontEnd.h"
#include "UsbBurnCtrl.h"
#include "UsbDevice.h"

namespace zq::ops
{

void stopProgrammer(Session &session)
{
    session.usbDevice.close();
    // Closing fails a pending transfer at once, so the worker reaches the top of its loop soon.
    while (session.burnCtrl.isRunning()) {
        session.burnCtrl.stopRequest.store(1, std::memory_order_release);
        QThread::yieldCurrentThread();
    }
}

void deviceArrived(Session &session, const QString &name)
{
    session.frontEnd.appendLog(QStringLiteral("device insert:") + name.toUpper());
}

void deviceRemoved(Session &session, const QString &name)
{
    UsbDevice &device = session.usbDevice;
    if (device.isOpen() && !device.transport().findProgrammers().contains(device.devicePath())) {
        stopProgrammer(session);
        session.frontEnd.setOperationButtonsEnabled(false);
    }
    session.frontEnd.appendLog(QStringLiteral("device remove:") + name.toUpper());
}

} // namespace zq::ops
