#include "JsonOutput.h"

#include "ConsoleStreams.h"

#include <QJsonDocument>

namespace zq::cli
{

namespace
{

void writeObject(const QJsonObject &object)
{
    writeLine(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

} // namespace

QJsonObject resultObject(const CommandResult &result)
{
    QJsonObject object = result.details;
    object.insert(QStringLiteral("kind"), QStringLiteral("result"));
    object.insert(QStringLiteral("command"), result.command);
    object.insert(QStringLiteral("exit"), result.exitCode);
    object.insert(QStringLiteral("code"), result.code ? QJsonValue(*result.code) : QJsonValue());
    if (!result.error.isEmpty())
        object.insert(QStringLiteral("error"), result.error);
    return object;
}

void JsonOutput::log(const QString &line)
{
    writeObject({{QStringLiteral("kind"), QStringLiteral("log")}, {QStringLiteral("text"), line}});
}

void JsonOutput::progress(int percent)
{
    if (percent == lastPercent_)
        return;
    lastPercent_ = percent;
    writeObject({{QStringLiteral("kind"), QStringLiteral("progress")},
                 {QStringLiteral("percent"), percent}});
}

void JsonOutput::message(const QString &title, const QString &text)
{
    writeObject({{QStringLiteral("kind"), QStringLiteral("message")},
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
    writeObject(resultObject(result));
    if (!result.error.isEmpty())
        writeLine(stderr, QStringLiteral("zqprog: ") + result.error);
}

} // namespace zq::cli
