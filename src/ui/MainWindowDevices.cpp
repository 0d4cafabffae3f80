#include "ui/MainWindow.h"

#include "ui/MainWindowForm.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbTransport.h"

#include <QComboBox>
#include <QPointer>

#if defined(Q_OS_WIN)
#include "usb/winusb/DeviceChangeMessage.h"
#include "usb/winusb/DeviceNotificationRegistration.h"
#endif

// The libusb and emulated buses report plug and unplug on a thread of their own; the news is
// carried to the window's thread. On Windows the news comes to the window itself (nativeEvent).
void MainWindow::registerForDeviceNotifications()
{
    QPointer<MainWindow> window(this);
    transport->setDeviceListener([window](bool arrived, const QString &name) {
        if (!window)
            return;
        QMetaObject::invokeMethod(
            window.data(),
            [window, arrived, name] {
                if (!window)
                    return;
                if (arrived)
                    window->onDeviceArrived(name);
                else
                    window->onDeviceRemoved(name);
            },
            Qt::QueuedConnection);
    });
#if defined(Q_OS_WIN)
    // The WinUSB bus has no thread of its own: Windows sends its news to this window. The
    // registration lasts as long as the window, so its handle is not kept.
    if (zq::usb::hearsWindowsDeviceChanges(*transport))
        zq::winusb::registerForDeviceInterfaceNotifications(reinterpret_cast<HWND>(winId()));
#endif
}

void MainWindow::onDeviceArrived(const QString &name)
{
    zq::ops::deviceArrived(*session, name);
    searchTimer.start(100);
}

void MainWindow::onDeviceRemoved(const QString &name)
{
    zq::ops::deviceRemoved(*session, name);
    searchTimer.start(100);
}

// The board the user chose stays chosen while it is still there: after another board is
// plugged or pulled, "Open programmer" must not open a different one.
void MainWindow::winusbDeviceSearch()
{
    searchTimer.stop();
    QComboBox *list = formRecord->comboBox_Device;
    const QString chosen = list->currentText();
    list->clear();
    devicePaths.clear();
    devicePaths = transport->findProgrammers();
    list->addItems(devicePaths);
    const int kept = chosen.isEmpty() ? -1 : int(devicePaths.indexOf(chosen));
    if (kept > 0)
        list->setCurrentIndex(kept);
}

// On Windows the WinUSB bus's device news arrives here; elsewhere it comes through the
// transport's listener. Qt always goes on with its own handling of the message.
bool MainWindow::nativeEvent(const QByteArray &eventType, void *message,
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
                             qintptr *result)
#else
                             long *result)
#endif
{
#if defined(Q_OS_WIN)
    Q_UNUSED(eventType)
    Q_UNUSED(result)
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message == WM_DEVICECHANGE) {
        using zq::winusb::DeviceChange;
        const DeviceChange change = zq::winusb::decodeDeviceChange(msg->wParam, msg->lParam);
        if (change.kind == DeviceChange::Kind::Arrival)
            onDeviceArrived(QString::fromStdWString(change.name));
        else if (change.kind == DeviceChange::Kind::Removal)
            onDeviceRemoved(QString::fromStdWString(change.name));
    }
    return false;
#else
    return QMainWindow::nativeEvent(eventType, message, result);
#endif
}
