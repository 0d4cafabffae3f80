#include "operations/Operations.h"
#include "operations/Session.h"

#include "frontend/FrontEnd.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"

namespace zq::ops
{

void stopProgrammer(Session &session)
{
    session.usbDevice.close();
    session.burnCtrl.stopWorker();
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
