#include "cli/Gang.h"

#include "cli/Boards.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/Output.h"
#include "cli/Subcommands.h"
#include "frontend/NumberText.h"

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

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace zq::cli
{

namespace
{

// A line of a board's zqprog, held until the board has said who it is.
struct HeldLine {
    bool error = false; // stderr; else a JSON object from stdout
    QString text;       // stderr's line
    QJsonObject object; // stdout's object
};

// One board of the gang and the zqprog that works on it.
struct Member {
    QString where;        // the port path (or device path) on USB; the state folder if emulated
    QStringList selector; // the arguments that give the child this board
    std::unique_ptr<QProcess> process;
    QElapsedTimer clock;
    QString tag;      // "0x00012345" once the board has identified itself
    QJsonValue board; // its id, as the JSON lines give it
    QList<HeldLine> held;
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

// The boards: every programmer on USB, chosen by its port path; or each --emulated board in
// its own process, on its own state folder.
QString gather(const Options &options, std::vector<Member> &members, int *exitCode)
{
    if (options.emulated) {
        const QStringList folders = options.emulatedStateFolders;
        ConsoleBus::giveFreshBoardsIds(folders);
        for (const QString &folder : folders) {
            Member member;
            member.where = folder.isEmpty() ? QStringLiteral("-") : folder;
            member.selector =
                QStringList{folder.isEmpty() ? QStringLiteral("--emulated")
                                             : QStringLiteral("--emulated=") + folder};
            members.push_back(std::move(member));
        }
        return QString();
    }
    ConsoleBus bus(options);
    for (const QString &path : bus.transport()->findProgrammers()) {
        Member member;
        const QString port = portOfPath(path);
        member.where = port.isEmpty() ? path : port;
        member.selector = QStringList{QStringLiteral("--device"), member.where};
        members.push_back(std::move(member));
    }
    if (members.empty()) {
        *exitCode = NoBoard;
        return QStringLiteral("no programmer found; is it plugged in?");
    }
    return QString();
}

// The boards' zqprogs do not outlive this one, however it ends. On Linux each follows its parent
// itself (installInterruptHandlers), told who that is by kGangParentVariable, and stops as on
// SIGTERM. On Windows they are put in a job that the system ends, killing them, when its last
// handle, this process's, is closed.
class ChildrenJob
{
public:
#if defined(_WIN32)
    ChildrenJob() : job_(CreateJobObjectW(nullptr, nullptr))
    {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job_)
            SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits,
                                    sizeof(limits));
    }
    ~ChildrenJob()
    {
        if (job_)
            CloseHandle(job_);
    }
    ChildrenJob(const ChildrenJob &) = delete;
    ChildrenJob &operator=(const ChildrenJob &) = delete;

    void add(qint64 processId) const
    {
        const HANDLE process = processId > 0 ? OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE,
                                                           FALSE, DWORD(processId))
                                             : nullptr; // 0: it did not start
        if (!process)
            return;
        if (job_)
            AssignProcessToJobObject(job_, process);
        CloseHandle(process);
    }

private:
    HANDLE job_;
#else
    void add(qint64) const {}
#endif
};

QProcessEnvironment childEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kGangParentVariable),
                       QString::number(QCoreApplication::applicationPid()));
    return environment;
}

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
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
        // A zqprog that never started never finishes either.
        QObject::connect(process, &QProcess::errorOccurred,
                         [this, &member](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart)
                                 finished(member, -1);
                         });
        member.clock.start();
        ++running_;
        process->setProcessEnvironment(environment_);
        process->start(QCoreApplication::applicationFilePath(),
                       childArguments(options_, member.selector));
        job_.add(process->processId());
    }

    void readOutput(Member &member)
    {
        member.process->setReadChannel(QProcess::StandardOutput);
        while (member.process->canReadLine()) {
            const QJsonObject object =
                QJsonDocument::fromJson(member.process->readLine().trimmed()).object();
            const QJsonValue board = object.value(QStringLiteral("board"));
            if (member.tag.isEmpty() && board.isDouble()) {
                member.board = board;
                identify(member, toHexText(uint32_t(board.toDouble()), 8));
            }
            if (!object.isEmpty())
                pass(member, HeldLine{false, QString(), object});
        }
    }

    void readErrors(Member &member)
    {
        member.process->setReadChannel(QProcess::StandardError);
        while (member.process->canReadLine())
            pass(member, HeldLine{true, QString::fromUtf8(member.process->readLine()).trimmed(),
                                  QJsonObject()});
        member.process->setReadChannel(QProcess::StandardOutput);
    }

    void identify(Member &member, const QString &tag)
    {
        member.tag = tag;
        const QList<HeldLine> held = member.held;
        member.held.clear();
        for (const HeldLine &line : held)
            pass(member, line);
    }

    // A line goes out once its board is known, tagged with it.
    void pass(Member &member, HeldLine line)
    {
        if (member.tag.isEmpty()) {
            member.held << line;
            return;
        }
        if (line.error) {
            writeLine(stderr, tagged(member, line.text));
            return;
        }
        if (line.object.value(QStringLiteral("board")).isNull())
            line.object.insert(QStringLiteral("board"), member.board);
        const QString kind = line.object.value(QStringLiteral("kind")).toString();
        if (kind == QLatin1String("result"))
            member.result = line.object;
        if (options_.json)
            writeLine(stdout, compact(line.object));
        else if (kind == QLatin1String("log"))
            writeLine(stdout, tagged(member, line.object.value(QStringLiteral("text")).toString()));
    }

    void finished(Member &member, int exitCode)
    {
        readOutput(member);
        readErrors(member);
        if (member.tag.isEmpty())
            identify(member, member.where);
        member.exitCode = exitCode;
        member.durationMs = member.clock.elapsed();
        member.verdict = verdictOf(member);
        if (--running_ == 0)
            loop_.quit();
    }

    // A board its zqprog could not open or identify, or whose mode refused the operation
    // before it began, was not ready; one whose operation ran and failed failed.
    static QString verdictOf(const Member &member)
    {
        if (member.exitCode == Success)
            return QStringLiteral("ok");
        if (member.exitCode == Interrupted)
            return QStringLiteral("interrupted");
        const bool ran = member.result.value(QStringLiteral("code")).isDouble();
        if (member.exitCode == NoBoard || (member.exitCode == OperationFailed && !ran))
            return QStringLiteral("not ready");
        return QStringLiteral("failed");
    }

    // Ctrl-C at a terminal reaches every zqprog of the group; a signal sent to this one alone
    // is passed on, so each board stops after its frame in flight. (A Windows console gives
    // its Ctrl-C to every program attached to it.)
    void passOnInterruptions()
    {
        const int count = interruptCount();
        for (; forwarded_ < count; ++forwarded_)
            for (Member &member : members_)
                if (member.process && member.process->state() == QProcess::Running)
                    interrupt(member.process->processId());
    }

    static void interrupt(qint64 processId)
    {
#if defined(_WIN32)
        Q_UNUSED(processId);
#else
        ::kill(pid_t(processId), SIGINT);
#endif
    }

    static QString tagged(const Member &member, const QString &line)
    {
        return QLatin1Char('[') + member.tag + QStringLiteral("] ") + line;
    }

    const Options &options_;
    std::vector<Member> &members_;
    const QProcessEnvironment environment_ = childEnvironment();
    ChildrenJob job_;
    QEventLoop loop_;
    int running_ = 0;
    int forwarded_ = 0;
};

QJsonValue orNull(const QJsonValue &value)
{
    return value.isUndefined() ? QJsonValue() : value;
}

// The image a board's zqprog read, as its result names it: "0x1A2B3C4D", or "-" when it did not
// get that far.
QString crcText(const QJsonValue &crc)
{
    return crc.isDouble() ? toHexText(uint32_t(crc.toDouble()), 8) : QStringLiteral("-");
}

// A job with serial numbers gives each board's unit its own: the table names them.
bool anySerial(const std::vector<Member> &members)
{
    for (const Member &member : members)
        if (member.result.value(QStringLiteral("serial")).isString())
            return true;
    return false;
}

// The table a line engineer reads, and the same for a program.
void summarize(const std::vector<Member> &members, SubcommandResult &result)
{
    const bool serials = anySerial(members);
    result.summary << QStringLiteral("board       result       code  seconds  crc         ") +
                          (serials ? QStringLiteral("serial      ") : QString()) +
                          QStringLiteral("programmer");
    QJsonArray rows;
    for (const Member &member : members) {
        const QJsonValue code = member.result.value(QStringLiteral("code"));
        const QJsonValue crc = member.result.value(QStringLiteral("crc"));
        const QJsonValue serial = member.result.value(QStringLiteral("serial"));
        const QString serialColumn =
            serials
                ? (serial.isString() ? serial.toString() : QStringLiteral("-")).leftJustified(10) +
                      QStringLiteral("  ")
                : QString();
        result.summary
            << member.tag.leftJustified(11) + QLatin1Char(' ') + member.verdict.leftJustified(11) +
                   QLatin1Char(' ') +
                   (code.isDouble() ? QString::number(code.toInt()) : QStringLiteral("-"))
                       .rightJustified(5) +
                   QLatin1Char(' ') +
                   QString::number(double(member.durationMs) / 1000.0, 'f', 2).rightJustified(8) +
                   QStringLiteral("  ") + crcText(crc).leftJustified(10) + QStringLiteral("  ") +
                   serialColumn + member.where;
        rows.append(QJsonObject{
            {QStringLiteral("board"), orNull(member.result.value(QStringLiteral("board")))},
            {QStringLiteral("programmer"), member.where},
            {QStringLiteral("result"), member.verdict},
            {QStringLiteral("code"), orNull(code)},
            {QStringLiteral("crc"), orNull(crc)},
            {QStringLiteral("serial"), orNull(serial)},
            {QStringLiteral("exit"), member.exitCode},
            {QStringLiteral("error"), orNull(member.result.value(QStringLiteral("error")))},
            {QStringLiteral("durationMs"), member.durationMs}});
    }
    result.details.insert(QStringLiteral("summary"), rows);
}

void judge(const std::vector<Member> &members, SubcommandResult &result)
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

SubcommandResult runOnAllBoards(const Options &options, Output &)
{
    SubcommandResult result;
    result.subcommand = subcommandName(options.subcommand);
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
