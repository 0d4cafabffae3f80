#include "cli/JsonOutput.h"

#include "cli/ConsoleStreams.h"
#include "cli/JsonSchema.h"

#include <QJsonDocument>

namespace zq::cli
{

namespace
{

template <typename T> QJsonValue valueOrNull(const std::optional<T> &value)
{
    return value ? QJsonValue(qint64(*value)) : QJsonValue();
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

void writeJsonLine(QJsonObject object)
{
    object.insert(QStringLiteral("schemaVersion"), kJsonSchemaVersion);
    writeLine(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

// Every result has the same keys, null where the run did not get that far; what only one
// subcommand reports (list's boards, info's identity) comes on top.
QJsonObject resultObject(const CommandResult &result)
{
    QJsonObject object = result.details;
    const std::optional<ImageIdentity> &image = result.image;
    object.insert(QStringLiteral("kind"), QStringLiteral("result"));
    object.insert(QStringLiteral("command"), result.command);
    object.insert(QStringLiteral("exit"), result.exitCode);
    object.insert(QStringLiteral("code"), valueOrNull(result.code));
    object.insert(QStringLiteral("error"), textOrNull(result.error));
    object.insert(QStringLiteral("file"), image ? QJsonValue(image->file) : QJsonValue());
    object.insert(QStringLiteral("format"), image ? QJsonValue(image->format) : QJsonValue());
    object.insert(QStringLiteral("crc"), image ? QJsonValue(qint64(image->crc)) : QJsonValue());
    object.insert(QStringLiteral("length"), image ? QJsonValue(image->length) : QJsonValue());
    object.insert(QStringLiteral("base"), image ? QJsonValue(qint64(image->base)) : QJsonValue());
    object.insert(QStringLiteral("targetId"), valueOrNull(result.targetId));
    object.insert(QStringLiteral("board"), valueOrNull(result.boardId));
    if (!object.contains(QStringLiteral("device")))
        object.insert(QStringLiteral("device"), textOrNull(result.device));
    object.insert(QStringLiteral("flashIni"), textOrNull(result.flashIni));
    object.insert(QStringLiteral("durationMs"), result.durationMs);
    return object;
}

void JsonOutput::log(const QString &line)
{
    writeJsonLine({{QStringLiteral("kind"), QStringLiteral("log")},
                   {QStringLiteral("board"), board()},
                   {QStringLiteral("text"), line}});
}

void JsonOutput::progress(int percent, Phase phase)
{
    if (percent == lastPercent_ && phase == lastPhase_)
        return;
    lastPercent_ = percent;
    lastPhase_ = phase;
    writeJsonLine({{QStringLiteral("kind"), QStringLiteral("progress")},
                   {QStringLiteral("board"), board()},
                   {QStringLiteral("phase"), phaseName(phase)},
                   {QStringLiteral("percent"), percent}});
}

void JsonOutput::message(const QString &title, const QString &text)
{
    writeJsonLine({{QStringLiteral("kind"), QStringLiteral("message")},
                   {QStringLiteral("board"), board()},
                   {QStringLiteral("title"), title},
                   {QStringLiteral("text"), text}});
    writeLine(stderr, text);
}

void JsonOutput::note(const QString &text)
{
    writeLine(stderr, QStringLiteral("zqprog: ") + text);
}

void JsonOutput::result(const CommandResult &result)
{
    writeJsonLine(resultObject(result));
    if (!result.error.isEmpty())
        writeLine(stderr, QStringLiteral("zqprog: ") + result.error);
}

} // namespace zq::cli
