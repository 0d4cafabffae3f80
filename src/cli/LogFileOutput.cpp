#include "LogFileOutput.h"

#include <QDateTime>

namespace zq::cli
{

namespace
{

QString resultLine(const CommandResult &result)
{
    QString line = QStringLiteral("zqprog: ") + result.command + QStringLiteral(" ended, exit ") +
                   QString::number(result.exitCode);
    if (result.code)
        line += QStringLiteral(", result code ") + QString::number(*result.code);
    if (!result.error.isEmpty())
        line += QStringLiteral(": ") + result.error;
    return line;
}

} // namespace

std::unique_ptr<Output> LogFileOutput::open(const QString &path, std::unique_ptr<Output> console,
                                            QString *error)
{
    std::unique_ptr<LogFileOutput> output(new LogFileOutput(std::move(console)));
    output->file_.setFileName(path);
    if (!output->file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("cannot open the log file ") + path + QStringLiteral(": ") +
                 output->file_.errorString();
        return nullptr;
    }
    return output;
}

LogFileOutput::LogFileOutput(std::unique_ptr<Output> console) : console_(std::move(console)) {}

void LogFileOutput::log(const QString &line)
{
    append(line);
    console_->log(line);
}

void LogFileOutput::progress(int percent)
{
    console_->progress(percent);
}

void LogFileOutput::message(const QString &title, const QString &text)
{
    append(QLatin1Char('[') + title + QStringLiteral("] ") + text);
    console_->message(title, text);
}

void LogFileOutput::note(const QString &text)
{
    append(QStringLiteral("zqprog: ") + text);
    console_->note(text);
}

void LogFileOutput::result(const CommandResult &result)
{
    for (const QString &line : result.summary)
        append(line);
    append(resultLine(result));
    console_->result(result);
}

// Written through at once, so a run that is killed still leaves its lines.
void LogFileOutput::append(const QString &line)
{
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    file_.write((stamp + QLatin1Char(' ') + line + QLatin1Char('\n')).toUtf8());
    file_.flush();
}

} // namespace zq::cli
