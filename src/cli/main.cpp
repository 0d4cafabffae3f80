#include "cli/Zqprog.h"

#include <QCoreApplication>

// zqprog: the programmer's operations from a shell, a script or a production line.
int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zqprog"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return zq::cli::runZqprog(arguments);
}
