#include "MainWindow.h"

#include "MainWindowForm.h"
#include "Operations.h"
#include "Session.h"
#include "UsbTransport.h"

#include <QComboBox>
#include <QPointer>

// Every bus reports plug and unplug on a thread of its own; the news is carried to the window's
// thread, where it is handled like the platform's device-change message.
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

void MainWindow::winusbDeviceSearch()
{
    searchTimer.stop();
    formRecord->comboBox_Device->clear();
    devicePaths.clear();
    devicePaths = transport->findProgrammers();
    formRecord->comboBox_Device->addItems(devicePaths);
}

// Device news comes through the transport's listener on every platform this build supports.
bool MainWindow::nativeEvent(const QByteArray &eventType, void *message,
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
                             qintptr *result)
#else
                             long *result)
#endif
{
    return QMainWindow::nativeEvent(eventType, message, result);
}
