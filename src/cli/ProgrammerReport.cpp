#include "cli/ProgrammerReport.h"

#include "cli/Output.h"
#include "cli/ProgrammerMode.h"
#include "frontend/NumberText.h"
#include "operations/ProgrammerState.h"

#include <QFileInfo>

namespace zq::cli
{

namespace
{

void addField(CommandResult &result, const QString &label, const QString &key,
              const QJsonValue &value, const QString &text)
{
    result.summary.append((label + QLatin1Char(':')).leftJustified(14) + text);
    result.details.insert(key, value);
}

void addField(CommandResult &result, const QString &label, const QString &key, const QString &text)
{
    addField(result, label, key, text, text);
}

} // namespace

void reportIdentity(const QString &path, const ops::ProgrammerState &state, CommandResult &result)
{
    addField(result, QStringLiteral("Device"), QStringLiteral("device"), path);
    addField(result, QStringLiteral("Mode"), QStringLiteral("mode"), modeKey(state.connectionMode),
             modeText(state.connectionMode));
    addField(result, QStringLiteral("Boot version"), QStringLiteral("bootVersion"),
             qint64(state.bootVersion), toHexText(state.bootVersion, 8));
    addField(result, QStringLiteral("App version"), QStringLiteral("appVersion"),
             qint64(state.appVersion), toHexText(state.appVersion, 8));
    addField(result, QStringLiteral("Board MCU"), QStringLiteral("boardMcu"),
             qint64(state.boardMcu), toHexText(state.boardMcu, 8));
    addField(result, QStringLiteral("Board ID"), QStringLiteral("boardId"), qint64(state.boardId),
             toHexText(state.boardId, 8));
    addField(result, QStringLiteral("Flash ID"), QStringLiteral("flashId"), qint64(state.flashId),
             toHexText(state.flashId, 6));
    addField(result, QStringLiteral("Flash size"), QStringLiteral("flashSize"), state.flashSize,
             QString::number(state.flashSize));
    addField(result, QStringLiteral("Flash name"), QStringLiteral("flashName"), state.flashName);
    result.details.insert(QStringLiteral("flashKnown"), state.flashKnown != 0);
    const QString catalogue = state.flashCatalogPath;
    result.summary.append(
        QStringLiteral("Flash.ini:").leftJustified(14) +
        (QFileInfo(catalogue).isFile() ? catalogue : QStringLiteral("none found")));
}

} // namespace zq::cli
