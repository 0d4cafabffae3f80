#include "cli/Gang.h"

#include "cli/Boards.h"
#include "cli/ConsoleBus.h"
#include "cli/ConsoleStreams.h"
#include "cli/ExitCode.h"
#include "cli/FileCheck.h"
#include "cli/Interruption.h"
#include "cli/Options.h"
#include "cli/ProgrammerMode.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <memory>
#include <vector>

namespace zq::cli
{

namespace
{

// One board of the gang: what the probe found, and the zqprog that works on it.
struct Member {
    BoardProbe board;
    QStringList selector; // the arguments that give the child this board
    std::unique_ptr<QProcess> process;
    QElapsedTimer clock;
    QJsonObject result; // the child's result line
    int exitCode = -1;
    qint64 durationMs = 0;
    QString verdict; // "ok", "failed", "not ready", "interrupted"
};

// The command line for one board: the user's, less what chooses the boards and the output form.
QStringList childArguments(const Options &options, const QStringList &selector)
{
    QStringList arguments;
    bool optionsEnded = false;
    for (const QString &argument : options.arguments) {
        optionsEnded = optionsEnded || argument == QLatin1String("--");
        const bool drop = !optionsEnded && (argument == QLatin1String("--all") ||
                                            argument == QLatin1String("--json") ||
                                            argument == QLatin1String("--emulated") ||
                                            argument.startsWith(QLatin1String("--emulated=")));
        if (!drop)
            arguments << argument;
    }
    return selector + QStringList{QStringLiteral("--json")} + arguments;
}

QString notReadyReason(const BoardProbe &board)
{
    if (!board.opened)
        return QStringLiteral("cannot be opened");
    if (!board.boardId)
        return QStringLiteral("does not identify itself");
    return QStringLiteral("in ") + modeText(board.mode);
}

// Finds and identifies the boards; the bus is let go before the children take them.
QString gather(const Options &options, std::vector<Member> &members, int *exitCode)
{
    ConsoleBus bus(options);
    if (!bus.loadError().isEmpty()) {
        *exitCode = bus.loadErrorExit();
        return bus.loadError();
    }
    for (const BoardProbe &board : findBoards(bus.transport(), true)) {
        Member member;
        member.board = board;
        const QString emulated = bus.emulatedArgumentOf(board.path);
        if (!emulated.isEmpty())
            member.selector = QStringList{emulated};
        else
            member.selector = QStringList{QStringLiteral("--device"),
                                          board.port.isEmpty() ? board.path : board.port};
        if (!board.ready())
            member.verdict = QStringLiteral("not ready");
        members.push_back(std::move(member));
    }
    if (members.empty()) {
        *exitCode = NoBoard;
        return QStringLiteral("no programmer found; is it plugged in?");
    }
    return QString();
}

class GangRun
{
public:
    GangRun(const Options &options, std::vector<Member> &members)
        : options_(options), members_(members)
    {
    }

    void run()
    {
        for (Member &member : members_)
            if (member.verdict.isEmpty())
                start(member);
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [this] { passOnInterruptions(); });
        watch.start(50);
        if (running_ > 0)
            loop_.exec();
    }

private:
    void start(Member &member)
    {
        member.process = std::make_unique<QProcess>();
        QProcess *process = member.process.get();
        QObject::connect(process, &QProcess::readyReadStandardOutput,
                         [this, &member] { readOutput(member); });
        QObject::connect(process, &QProcess::readyReadStandardError,
                         [this, &member] { readErrors(member); });
        QObject::connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished),
                         [this, &member](int code, QProcess::ExitStatus status) {
                             finished(member, status == QProcess::NormalExit ? code : -1);
                         });
        member.clock.start();
        process->start(QCoreApplication::applicationFilePath(),
                       childArguments(options_, member.selector));
        ++running_;
        if (!process->waitForStarted()) {
            member.verdict = QStringLiteral("failed");
            member.result.insert(QStringLiteral("error"), process->errorString());
            --running_;
        }
    }

    void readOutput(Member &member)
    {
        while (member.process->canReadLine()) {
            const QByteArray line = member.process->readLine().trimmed();
            QJsonObject object = QJsonDocument::fromJson(line).object();
            if (object.isEmpty())
                continue;
            if (object.value(QStringLiteral("board")).isNull() && member.board.boardId)
                object.insert(QStringLiteral("board"), qint64(*member.board.boardId));
            if (object.value(QStringLiteral("kind")) == QLatin1String("result")) {
                // The board's path on this bus (an emulated board has a bus of its own there).
                object.insert(QStringLiteral("device"), member.board.path);
                member.result = object;
            }
            if (options_.json)
                writeLine(stdout,
                          QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
            else if (object.value(QStringLiteral("kind")) == QLatin1String("log"))
                writeLine(stdout, tagged(member, object.value(QStringLiteral("text")).toString()));
        }
    }

    void readErrors(Member &member)
    {
        member.process->setReadChannel(QProcess::StandardError);
        while (member.process->canReadLine())
            writeLine(stderr,
                      tagged(member, QString::fromUtf8(member.process->readLine()).trimmed()));
        member.process->setReadChannel(QProcess::StandardOutput);
    }

    void finished(Member &member, int exitCode)
    {
        readOutput(member);
        readErrors(member);
        member.exitCode = exitCode;
        member.durationMs = member.clock.elapsed();
        if (exitCode == Success)
            member.verdict = QStringLiteral("ok");
        else if (exitCode == Interrupted)
            member.verdict = QStringLiteral("interrupted");
        else
            member.verdict = QStringLiteral("failed");
        if (--running_ == 0)
            loop_.quit();
    }

    // Ctrl-C at a terminal reaches every zqprog of the group; a signal sent to this one alone
    // is passed on, so each board stops after its frame in flight.
    void passOnInterruptions()
    {
        const int count = interruptCount();
        for (; forwarded_ < count; ++forwarded_)
            for (Member &member : members_)
                if (member.process && member.process->state() == QProcess::Running)
                    ::kill(pid_t(member.process->processId()), SIGINT);
    }

    static QString tagged(const Member &member, const QString &line)
    {
        return QLatin1Char('[') + member.board.tag() + QStringLiteral("] ") + line;
    }

    const Options &options_;
    std::vector<Member> &members_;
    QEventLoop loop_;
    int running_ = 0;
    int forwarded_ = 0;
};

QString codeText(const QJsonValue &code)
{
    return code.isDouble() ? QString::number(code.toInt()) : QStringLiteral("-");
}

// The table a line engineer reads, and the same for a program.
void summarize(const std::vector<Member> &members, CommandResult &result)
{
    result.summary << QStringLiteral("board       port          result       code  seconds");
    QJsonArray rows;
    for (const Member &member : members) {
        const QJsonValue code = member.result.value(QStringLiteral("code"));
        const QString seconds = member.process
                                    ? QString::number(double(member.durationMs) / 1000.0, 'f', 2)
                                    : QStringLiteral("-");
        result.summary << member.board.tag().leftJustified(11) + QLatin1Char(' ') +
                              member.board.port.leftJustified(13) + QLatin1Char(' ') +
                              member.verdict.leftJustified(11) + QLatin1Char(' ') +
                              codeText(code).rightJustified(5) + QLatin1Char(' ') +
                              seconds.rightJustified(8);
        QJsonObject row{
            {QStringLiteral("board"),
             member.board.boardId ? qint64(*member.board.boardId) : QJsonValue()},
            {QStringLiteral("port"), member.board.port},
            {QStringLiteral("device"), member.board.path},
            {QStringLiteral("result"), member.verdict},
            {QStringLiteral("code"), code.isDouble() ? code : QJsonValue()},
            {QStringLiteral("exit"), member.process ? QJsonValue(member.exitCode) : QJsonValue()},
            {QStringLiteral("durationMs"),
             member.process ? QJsonValue(member.durationMs) : QJsonValue()}};
        if (!member.process)
            row.insert(QStringLiteral("error"), notReadyReason(member.board));
        rows.append(row);
    }
    result.details.insert(QStringLiteral("summary"), rows);
}

void judge(const std::vector<Member> &members, CommandResult &result)
{
    int failed = 0;
    int interrupted = 0;
    for (const Member &member : members) {
        failed += member.verdict != QLatin1String("ok") ? 1 : 0;
        interrupted += member.verdict == QLatin1String("interrupted") ? 1 : 0;
    }
    if (failed == 0)
        return;
    result.exitCode = interrupted > 0 ? Interrupted : OperationFailed;
    result.error = QString::number(failed) + QStringLiteral(" of ") +
                   QString::number(members.size()) + QStringLiteral(" programmers did not succeed");
}

} // namespace

CommandResult runOnAllBoards(const Options &options, Output &)
{
    CommandResult result;
    result.command = commandName(options.command);
    const FileCheck file = checkFile(options);
    result.image = file.image;
    if (!file.error.isEmpty()) {
        result.exitCode = OperationFailed;
        result.error = file.error;
        return result;
    }
    std::vector<Member> members;
    int exitCode = Success;
    const QString error = gather(options, members, &exitCode);
    if (!error.isEmpty()) {
        result.exitCode = exitCode;
        result.error = error;
        return result;
    }
    GangRun(options, members).run();
    summarize(members, result);
    judge(members, result);
    return result;
}

} // namespace zq::cli
