#include "cli/Output.h"

#include "config/RegularFile.h"
#include "frontend/NumberText.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QString>

#include <algorithm>

#if defined(_WIN32)
#include <io.h>
#define ZQ_ISATTY _isatty
#define ZQ_FILENO _fileno
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define ZQ_ISATTY isatty
#define ZQ_FILENO fileno
#endif

namespace zq::cli
{

void writeText(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void writeLine(std::FILE *stream, const QString &line)
{
    writeText(stream, line + QLatin1Char('\n'));
}

bool isTerminal(std::FILE *stream)
{
    return ZQ_ISATTY(ZQ_FILENO(stream)) != 0;
}

void addSummaryField(SubcommandResult &result, int width, const QString &label, const QString &key,
                     const QJsonValue &value, const QString &text)
{
    result.summary.append((label + QLatin1Char(':')).leftJustified(width) + text);
    result.details.insert(key, value);
}

QString phaseName(Stage phase)
{
    switch (phase) {
    case Stage::Init:
        return QStringLiteral("init");
    case Stage::Write:
        return QStringLiteral("write");
    case Stage::Check:
        return QStringLiteral("check");
    case Stage::Message:
        return QStringLiteral("message");
    }
    return QString();
}

namespace
{

constexpr int kBarWidth = 40;

QString barText(int percent)
{
    const int filled = std::clamp(percent, 0, 100) * kBarWidth / 100;
    return QStringLiteral("\r[") + QString(filled, QLatin1Char('#')) +
           QString(kBarWidth - filled, QLatin1Char('-')) + QStringLiteral("] ") +
           QString::number(percent).rightJustified(3) + QLatin1Char('%');
}

} // namespace

ProgressDisplay::ProgressDisplay(std::FILE *stream, bool terminal)
    : stream_(stream), terminal_(terminal)
{
}

void ProgressDisplay::show(int percent)
{
    if (percent == percent_ && (drawn_ || !terminal_))
        return;
    percent_ = percent;
    if (terminal_)
        draw();
    else
        writeLine(stream_,
                  QStringLiteral("Progress: ") + QString::number(percent) + QLatin1Char('%'));
}

void ProgressDisplay::beforeLine()
{
    if (!drawn_)
        return;
    // Back to the start of the line and erase it.
    writeText(stream_, QStringLiteral("\r\x1b[2K"));
    drawn_ = false;
}

void ProgressDisplay::afterLine()
{
    if (terminal_ && percent_ >= 0 && percent_ < 100)
        draw();
}

void ProgressDisplay::finish()
{
    beforeLine();
    percent_ = -1;
}

void ProgressDisplay::draw()
{
    writeText(stream_, barText(percent_));
    drawn_ = true;
}

TextOutput::TextOutput() : progress_(stdout, isTerminal(stdout)) {}

void TextOutput::log(const QString &line)
{
    progress_.beforeLine();
    writeLine(stdout, line);
    progress_.afterLine();
}

// The phase is the log's business: its lines before each restart of the bar say what comes.
void TextOutput::progress(int percent, Stage)
{
    progress_.show(percent);
}

// The box's title says nothing the text does not; only the text is shown, as the box shows it.
void TextOutput::message(const QString &, const QString &text)
{
    progress_.beforeLine();
    writeLine(stderr, text);
    progress_.afterLine();
}

void TextOutput::note(const QString &text)
{
    progress_.beforeLine();
    writeLine(stderr, QStringLiteral("zqprog: ") + text);
    progress_.afterLine();
}

void TextOutput::result(const SubcommandResult &result)
{
    progress_.finish();
    for (const QString &line : result.summary)
        writeLine(stdout, line);
    if (!result.error.isEmpty())
        writeLine(stderr, QStringLiteral("zqprog: ") + result.error);
}

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
QJsonObject resultObject(const SubcommandResult &result)
{
    QJsonObject object = result.details;
    const std::optional<ImageIdentity> &image = result.image;
    object.insert(QStringLiteral("kind"), QStringLiteral("result"));
    object.insert(QStringLiteral("command"), result.subcommand);
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

void JsonOutput::progress(int percent, Stage phase)
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

void JsonOutput::result(const SubcommandResult &result)
{
    writeJsonLine(resultObject(result));
    if (!result.error.isEmpty())
        writeLine(stderr, QStringLiteral("zqprog: ") + result.error);
}

QString programVersion()
{
    return QStringLiteral(ZQ_PROGRAM_VERSION);
}

QString buildDescription()
{
    return QStringLiteral(ZQ_BUILD_DESCRIPTION);
}

QString versionLine()
{
    return QStringLiteral("zqprog ") + programVersion() + QStringLiteral(" (build ") +
           buildDescription() + QLatin1Char(')');
}

QJsonObject versionObject()
{
    return {{QStringLiteral("kind"), QStringLiteral("version")},
            {QStringLiteral("schemaVersion"), kJsonSchemaVersion},
            {QStringLiteral("program"), QStringLiteral("zqprog")},
            {QStringLiteral("version"), programVersion()},
            {QStringLiteral("build"), buildDescription()}};
}

namespace
{

QString resultLine(const SubcommandResult &result)
{
    QString line = QStringLiteral("zqprog: ") + result.subcommand +
                   QStringLiteral(" ended, exit ") + QString::number(result.exitCode);
    if (result.code)
        line += QStringLiteral(", result code ") + QString::number(*result.code);
    if (!result.serial.isEmpty())
        line += QStringLiteral(", serial ") + result.serial;
    if (!result.error.isEmpty())
        line += QStringLiteral(": ") + result.error;
    return line;
}

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString boardTag(const SubcommandResult &run)
{
    return run.boardId ? toHexText(*run.boardId, 8) : QStringLiteral("-");
}

QStringList header(const SubcommandResult &run, const QStringList &arguments)
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
    if (!run.jobHash.isEmpty())
        lines << QStringLiteral("zqprog: job: ") + run.jobHash;
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

namespace
{

// The log is a regular file (made when missing) or a FIFO that something reads; anything else is
// refused before it is opened, by what it is. Empty when the path may be opened.
QString logFileTypeProblem(const QString &path)
{
    const config::FileType type = config::fileTypeOf(path);
    if (type == config::FileType::Missing || type == config::FileType::Regular ||
        type == config::FileType::Fifo)
        return QString();
    return config::fileTypeText(type) + QStringLiteral(", not a regular file or a FIFO");
}

#if defined(_WIN32)
QString openLogFile(QFile &file, const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append) ? QString() : file.errorString();
}
#else
// O_NONBLOCK: a FIFO with no reader is refused at once (ENXIO) instead of waiting for one, and
// what has taken the file's place since it was looked at is told by fstat before a line is
// written. A FIFO has no end to seek to; the file is appended to.
QString openLogFile(QFile &file, const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == ENXIO ? config::fileTypeText(config::FileType::Fifo) +
                                    QStringLiteral(" with no reader")
                              : QString::fromLocal8Bit(std::strerror(errno));
    struct stat status {
    };
    const bool known = ::fstat(fd, &status) == 0;
    const bool fifo = known && S_ISFIFO(status.st_mode);
    if (!fifo && !(known && S_ISREG(status.st_mode))) {
        ::close(fd);
        return QStringLiteral("is not a regular file or a FIFO");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const QIODevice::OpenMode mode =
        fifo ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Append;
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return file.errorString();
    }
    return QString();
}
#endif

} // namespace

std::unique_ptr<Output> LogFileOutput::open(const QString &path, std::unique_ptr<Output> console,
                                            const QStringList &arguments, QString *error)
{
    std::unique_ptr<LogFileOutput> output(new LogFileOutput(std::move(console), arguments));
    output->path_ = path;
    QString problem = logFileTypeProblem(path);
    if (problem.isEmpty())
        problem = openLogFile(output->file_, path);
    if (!problem.isEmpty()) {
        *error =
            QStringLiteral("cannot open the log file ") + path + QStringLiteral(": ") + problem;
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

void LogFileOutput::progress(int percent, Stage phase)
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

void LogFileOutput::identified(const SubcommandResult &run)
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

void LogFileOutput::result(const SubcommandResult &result)
{
    identified(result);
    for (const QString &line : result.summary)
        append(line);
    append(resultLine(result));
    if (writeError_.isEmpty()) {
        console_->result(result);
        return;
    }
    SubcommandResult failed = result;
    const QString error =
        QStringLiteral("cannot write the log file ") + path_ + QStringLiteral(": ") + writeError_;
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
