#include "frontend/FrontEnd.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbDevice.h"

#include <QThread>

namespace zq::ops
{

// Switches the programmer to its other resident program and nothing more: no reconnect, no
// change of the mode last reported, no button.
void runUartApplication(Session &session)
{
    if (!session.usbDevice.isOpen()) {
        session.frontEnd.appendLog(QStringLiteral("The programmer boot is disconnected!"));
        session.frontEnd.setOperationButtonsEnabled(false);
        return;
    }
    session.commands.CMD_USB_BOOT(session.state.connectionMode == 0 ? 1 : 0);
    QThread::msleep(60);
}

} // namespace zq::ops
