#include "ui/MainWindow.h"

#include <QApplication>

// The window lives on the stack so that it is destroyed, and writes config.ini, after the event
// loop has ended and before the application object goes.
int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    MainWindow window;
    window.show();
    return application.exec();
}
