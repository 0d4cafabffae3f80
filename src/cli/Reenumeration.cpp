#include "cli/Reenumeration.h"

#include "usb/UsbTransport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace zq::cli
{

namespace
{

// A search of the bus is not free on real USB; a board takes a second or more to come back.
constexpr int kPollMs = 20;

// A path no programmer had before, or the old one once the board was seen gone from it.
QString returnedPath(const QStringList &now, const QString &oldPath, const QStringList &before,
                     bool leftOldPath)
{
    for (const QString &path : now)
        if (!before.contains(path) || (leftOldPath && path == oldPath))
            return path;
    return QString();
}

} // namespace

QString waitForReturn(usb::UsbTransport &transport, const QString &oldPath,
                      const QStringList &before, int timeoutMs, const std::function<bool()> &stop)
{
    QElapsedTimer clock;
    clock.start();
    bool leftOldPath = false;
    while (!clock.hasExpired(timeoutMs)) {
        QCoreApplication::processEvents();
        if (stop())
            break;
        const QStringList now = transport.findProgrammers();
        leftOldPath = leftOldPath || !now.contains(oldPath);
        const QString path = returnedPath(now, oldPath, before, leftOldPath);
        if (!path.isEmpty())
            return path;
        QThread::msleep(kPollMs);
    }
    return QString();
}

} // namespace zq::cli
