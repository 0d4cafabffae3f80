#include "cli/LogFileOutput.h"

#include "cli/Version.h"
#include "frontend/NumberText.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

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

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString boardTag(const CommandResult &run)
{
    return run.boardId ? toHexText(*run.boardId, 8) : QStringLiteral("-");
}

QStringList header(const CommandResult &run, const QStringList &arguments)
{
    QStringList lines{QStringLiteral("zqprog: ") + versionLine(),
                      QStringLiteral("zqprog: command: ") + shellCommandLine(arguments)};
    lines << QStringLiteral("zqprog: board: ") +
                 (run.boardId ? toHexText(*run.boardId, 8) : QStringLiteral("unknown")) +
                 QStringLiteral(" at ") +
                 (run.device.isEmpty() ? QStringLiteral("none") : run.device);
    if (run.image)
        lines << QStringLiteral("zqprog: image: ") + run.image->file + QStringLiteral(", ") +
                     run.image->format + QStringLiteral(", CRC ") + toHexText(run.image->crc, 8) +
                     QStringLiteral(", ") + QString::number(run.image->length) +
                     QStringLiteral(" bytes");
    return lines;
}

} // namespace

QString shellCommandLine(const QStringList &arguments)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    QStringList words{QStringLiteral("zqprog")};
    for (QString argument : arguments) {
        if (!plain.match(argument).hasMatch())
            argument = QLatin1Char('\'') +
                       argument.replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
                       QLatin1Char('\'');
        words << argument;
    }
    return words.join(QLatin1Char(' '));
}

std::unique_ptr<Output> LogFileOutput::open(const QString &path, std::unique_ptr<Output> console,
                                            const QStringList &arguments, QString *error)
{
    std::unique_ptr<LogFileOutput> output(new LogFileOutput(std::move(console), arguments));
    output->file_.setFileName(path);
    // A device or a pipe has no end to append at.
    const QFileInfo info(path);
    const QIODevice::OpenMode mode = !info.exists() || info.isFile()
                                         ? QIODevice::WriteOnly | QIODevice::Append
                                         : QIODevice::WriteOnly;
    if (!output->file_.open(mode)) {
        *error = QStringLiteral("cannot open the log file ") + path + QStringLiteral(": ") +
                 output->file_.errorString();
        return nullptr;
    }
    return output;
}

LogFileOutput::LogFileOutput(std::unique_ptr<Output> console, const QStringList &arguments)
    : console_(std::move(console)), arguments_(arguments)
{
}

void LogFileOutput::log(const QString &line)
{
    append(line);
    console_->log(line);
}

void LogFileOutput::progress(int percent, Phase phase)
{
    console_->progress(percent, phase);
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

void LogFileOutput::identified(const CommandResult &run)
{
    if (headerWritten_)
        return;
    headerWritten_ = true;
    tag_ = boardTag(run);
    const QString stamp = now();
    for (const QString &line : header(run, arguments_))
        write(stamp, line);
    for (const auto &line : held_)
        write(line.first, line.second);
    held_.clear();
    console_->identified(run);
}

void LogFileOutput::result(const CommandResult &result)
{
    identified(result);
    for (const QString &line : result.summary)
        append(line);
    append(resultLine(result));
    if (writeError_.isEmpty()) {
        console_->result(result);
        return;
    }
    CommandResult failed = result;
    const QString error = QStringLiteral("cannot write the log file ") + file_.fileName() +
                          QStringLiteral(": ") + writeError_;
    failed.error = failed.error.isEmpty() ? error : failed.error + QStringLiteral("; ") + error;
    failed.exitCode = finalExit(failed.exitCode);
    console_->result(failed);
}

int LogFileOutput::finalExit(int exitCode) const
{
    return exitCode == 0 && !writeError_.isEmpty() ? 1 : exitCode;
}

void LogFileOutput::append(const QString &line)
{
    if (headerWritten_)
        write(now(), line);
    else
        held_.append({now(), line});
}

// Written through at once, so a run that is killed still leaves its lines.
void LogFileOutput::write(const QString &stamp, const QString &line)
{
    const QByteArray bytes =
        (stamp + QStringLiteral(" [") + tag_ + QStringLiteral("] ") + line + QLatin1Char('\n'))
            .toUtf8();
    if (file_.write(bytes) != bytes.size() || !file_.flush()) {
        if (writeError_.isEmpty())
            writeError_ = file_.errorString();
        file_.unsetError();
    }
}

} // namespace zq::cli
