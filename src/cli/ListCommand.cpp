#include "cli/Commands.h"

#include "cli/ExitCode.h"
#include "cli/OpenErrorText.h"
#include "operations/Operations.h"
#include "usb/UsbDevice.h"

#include <QJsonArray>

namespace zq::cli
{

namespace
{

// Opening is the only way to learn whether this user may use the board; it is closed again
// at once.
QJsonObject probe(const std::shared_ptr<usb::UsbTransport> &transport, const QString &path,
                  QStringList &lines)
{
    UsbDevice device(transport);
    const bool opened = device.open(path);
    device.close();
    QJsonObject board{{QStringLiteral("path"), path}, {QStringLiteral("openable"), opened}};
    if (opened) {
        lines.append(path + QStringLiteral("  ready"));
        return board;
    }
    const QString reason = openErrorReason(device.lastOpenError());
    const QString advice = ops::openFailureAdvice(device.lastOpenError());
    board.insert(QStringLiteral("reason"), reason);
    lines.append(path + QStringLiteral("  cannot be opened: ") + reason);
    if (!advice.isEmpty()) {
        board.insert(QStringLiteral("advice"), advice);
        lines.append(QStringLiteral("    ") + advice);
    }
    return board;
}

} // namespace

CommandResult runList(const std::shared_ptr<usb::UsbTransport> &transport)
{
    CommandResult result;
    result.command = QStringLiteral("list");
    QJsonArray boards;
    for (const QString &path : transport->findProgrammers())
        boards.append(probe(transport, path, result.summary));
    result.details.insert(QStringLiteral("boards"), boards);
    if (boards.isEmpty()) {
        result.exitCode = NoBoard;
        result.error = QStringLiteral("no programmer found; is it plugged in?");
    }
    return result;
}

} // namespace zq::cli
