#include "cli/ConsoleSession.h"

#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QPointer>

namespace zq::cli
{

ConsoleSession::ConsoleSession(std::shared_ptr<usb::UsbTransport> transport, FrontEnd &frontEnd)
    : transport_(std::move(transport)), device_(std::make_unique<UsbDevice>(transport_)),
      burnCtrl_(std::make_unique<USB_BURN_CTRL>())
{
    burnCtrl_->device = device_.get();
    session_ = std::make_unique<ops::Session>(*device_, *burnCtrl_, frontEnd);
    listenForDevices();
}

ConsoleSession::~ConsoleSession()
{
    transport_->setDeviceListener(nullptr);
    ops::stopProgrammer(*session_);
}

// The bus reports on a thread of its own; the news is handled on this one, like the window's.
void ConsoleSession::listenForDevices()
{
    QPointer<QObject> receiver(&receiver_);
    ops::Session *session = session_.get();
    transport_->setDeviceListener([receiver, session](bool arrived, const QString &name) {
        if (!receiver)
            return;
        QMetaObject::invokeMethod(
            receiver.data(),
            [session, arrived, name] {
                if (arrived)
                    ops::deviceArrived(*session, name);
                else
                    ops::deviceRemoved(*session, name);
            },
            Qt::QueuedConnection);
    });
}

} // namespace zq::cli
