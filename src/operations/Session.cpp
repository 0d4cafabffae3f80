#include "operations/Session.h"

#include "common/DeveloperLog.h"
#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "operations/Operations.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QPointer>
#include <QTime>

namespace zq::ops
{

const QString kDisconnected = QStringLiteral("The programmer is disconnected!");

LoadedImage Session::imageAt(const QString &path, ImageKind kind) const
{
    if (pinnedImage && pinnedImage->path == path)
        return pinnedImage->image;
    return kind == ImageKind::Programmer ? loadRawImage(path) : loadCodeImage(path);
}

ProgrammerLink::ProgrammerLink(std::shared_ptr<usb::UsbTransport> transport, FrontEnd &frontEnd,
                               News news)
    : transport_(std::move(transport)), device_(std::make_unique<UsbDevice>(transport_)),
      worker_(std::make_unique<USB_BURN_CTRL>()), hearsNews_(news == News::Heard)
{
    worker_->device = device_.get();
    session_ = std::make_unique<Session>(*device_, *worker_, frontEnd);
    if (hearsNews_)
        listen();
}

void ProgrammerLink::listen()
{
    QPointer<QObject> receiver(&receiver_);
    transport_->setDeviceListener([this, receiver](bool arrived, const QString &name) {
        if (!receiver)
            return;
        QMetaObject::invokeMethod(
            receiver.data(),
            [this, receiver, arrived, name] {
                if (receiver)
                    deliver(arrived, name);
            },
            Qt::QueuedConnection);
    });
}

ProgrammerLink::~ProgrammerLink()
{
    if (hearsNews_)
        transport_->setDeviceListener(nullptr);
    stopProgrammer(*session_);
    session_.reset();
    worker_.reset();
    device_.reset();
}

void ProgrammerLink::setDeviceNewsHandler(DeviceNews handler)
{
    handler_ = std::move(handler);
}

void ProgrammerLink::deliver(bool arrived, const QString &name)
{
    qCDebug(zqOperations, "device %s: %s", arrived ? "arrived" : "removed", qPrintable(name));
    if (handler_)
        handler_(arrived, name);
    else if (arrived)
        deviceArrived(*session_, name);
    else
        deviceRemoved(*session_, name);
}

bool requireOpenProgrammer(Session &session, const QString &notOpenLine)
{
    if (session.usbDevice.isOpen())
        return true;
    qCDebug(zqOperations, "refused: the programmer is not open");
    session.frontEnd.appendLog(notOpenLine);
    session.frontEnd.setOperationButtonsEnabled(false);
    return false;
}

int runWithButtonsOff(Session &session, const Verdict &verdict, const std::function<int()> &steps)
{
    FrontEnd &frontEnd = session.frontEnd;
    frontEnd.setOperationButtonsEnabled(false);
    const int result = steps();
    qCDebug(zqOperations, "operation ended, code %d%s", result,
            frontEnd.stopRequested() ? " (stop requested)" : "");
    if (!verdict.noBlankLine)
        frontEnd.appendLog(QString());
    if (result == 0)
        frontEnd.appendLog(verdict.passed);
    else
        frontEnd.appendLog(verdict.failedNamesCode ? verdict.failed + toDecText(result)
                                                   : verdict.failed);
    frontEnd.setOperationButtonsEnabled(true);
    return result;
}

void logTimestamp(FrontEnd &frontEnd)
{
    frontEnd.appendLog(timestampText(QTime::currentTime()));
}

} // namespace zq::ops
