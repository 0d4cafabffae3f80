#include "app/DemoSetup.h"
#include "ui/MainWindow.h"
#include "usb/UsbTransport.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <cstdio>

// The window of zq-programmer over the built-in emulator, with two boards plugged in: every
// button can be tried without the hardware.
int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("ZQ Programmer over an emulated programmer board."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("workdir"),
                      QStringLiteral("Folder the demo works in (default: %1).")
                          .arg(zq::demo::defaultWorkFolder()),
                      QStringLiteral("folder")});
    parser.process(application);
    const QString folder = parser.isSet(QStringLiteral("workdir"))
                               ? parser.value(QStringLiteral("workdir"))
                               : zq::demo::defaultWorkFolder();
    QString error;
    if (!zq::demo::prepareWorkFolder(folder, &error) || !QDir::setCurrent(folder)) {
        std::fprintf(
            stderr, "zq-programmer-demo: %s\n",
            qPrintable(error.isEmpty() ? QStringLiteral("cannot enter ") + folder : error));
        return 1;
    }
    zq::demo::plugDemoBoards();
    MainWindow window(zq::usb::makeEmulatedTransport());
    window.setWindowTitle(window.windowTitle() + QStringLiteral(" (demo)"));
    window.show();
    return application.exec();
}
