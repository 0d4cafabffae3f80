#include "WindowDriving.h"

#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

namespace zq::bench
{

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void runEventLoopFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool openListedProgrammer(MainWindow &window, const QString &path)
{
    QComboBox *devices = window.form()->comboBox_Device;
    if (!waitUntil([&] { return devices->findText(path) >= 0; }, 5000))
        return false;
    devices->setCurrentIndex(devices->findText(path));
    // A failed open shows a modal box; it must not stop the benchmark.
    QTimer boxCloser;
    QObject::connect(&boxCloser, &QTimer::timeout, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    boxCloser.start(100);
    window.form()->pushButton_OpenDevice->click();
    boxCloser.stop();
    return window.device().isOpen() && window.worker().isRunning();
}

} // namespace zq::bench
