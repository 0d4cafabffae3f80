#include "cli/Boards.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/Subcommands.h"
#include "frontend/NumberText.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QThread>

namespace zq::cli
{

namespace
{

// A probe's lines and boxes are nobody's business: the probe only wants the answers.
class Discard : public Output
{
public:
    void log(const QString &) override {}
    void progress(int, Stage) override {}
    void message(const QString &, const QString &) override {}
    void note(const QString &) override {}
    void result(const SubcommandResult &) override {}
};

// The console's front end with the probe's own idea of when to stop: an update's wait for the
// board outlasts the Ctrl-C it refused.
class ProbeFrontEnd : public ConsoleFrontEnd
{
public:
    ProbeFrontEnd(Output &output, std::function<bool()> stop)
        : ConsoleFrontEnd(output, Options()), stop_(std::move(stop))
    {
    }
    bool stopRequested() const override
    {
        return stop_ ? stop_() : ConsoleFrontEnd::stopRequested();
    }

private:
    std::function<bool()> stop_;
};

QString idText(uint32_t id)
{
    return toHexText(id, 8);
}

// The names --device may give for a board, in the order they are shown.
QStringList namesOf(const BoardProbe &board)
{
    QStringList names;
    if (board.boardId)
        names << idText(*board.boardId);
    if (!board.port.isEmpty())
        names << board.port;
    names << board.path;
    return names;
}

// An id may also be typed without its leading zeros: 0x12345.
bool sameId(const BoardProbe &board, const QString &wanted)
{
    static const QRegularExpression hexId(QStringLiteral("^0[xX][0-9a-fA-F]{1,8}$"));
    bool ok = false;
    return board.boardId && hexId.match(wanted).hasMatch() &&
           wanted.mid(2).toUInt(&ok, 16) == *board.boardId && ok;
}

QList<BoardProbe> matching(const QList<BoardProbe> &found, const QString &wanted, bool whole)
{
    QList<BoardProbe> matches;
    for (const BoardProbe &board : found) {
        bool fits = whole && sameId(board, wanted);
        for (const QString &name : namesOf(board))
            fits = fits || (whole ? name.compare(wanted, Qt::CaseInsensitive) == 0
                                  : name.startsWith(wanted, Qt::CaseInsensitive));
        if (fits)
            matches << board;
    }
    return matches;
}

// One line per board, with what can be typed back without quotes.
QString listed(const QList<BoardProbe> &boards)
{
    QString text;
    for (const BoardProbe &board : boards) {
        QStringList names = namesOf(board);
        names.removeLast(); // the path, which needs quoting
        text += QStringLiteral("\n  ") +
                (names.isEmpty() ? board.path : names.join(QStringLiteral("  ")));
    }
    return text;
}

QString versionsText(const BoardProbe &board)
{
    return QStringLiteral("boot ") + idText(board.bootVersion) + QStringLiteral("  app ") +
           idText(board.appVersion);
}

// list's line and JSON object for one board.
QJsonObject listEntry(const BoardProbe &board, QStringList &lines)
{
    const QString port = board.port.isEmpty() ? board.path : board.port;
    QJsonObject entry{
        {QStringLiteral("path"), board.path},
        {QStringLiteral("port"), board.port.isEmpty() ? QJsonValue() : board.port},
        {QStringLiteral("openable"), board.opened},
        {QStringLiteral("board"), board.boardId ? qint64(*board.boardId) : QJsonValue()}};
    if (board.boardId) {
        entry.insert(QStringLiteral("mode"), ops::connectionModeKey(board.mode));
        entry.insert(QStringLiteral("bootVersion"), qint64(board.bootVersion));
        entry.insert(QStringLiteral("appVersion"), qint64(board.appVersion));
        lines << port + QStringLiteral("  ") + idText(*board.boardId) + QStringLiteral("  ") +
                     ops::connectionModeWords(board.mode) + QStringLiteral("  ") +
                     versionsText(board);
        return entry;
    }
    QString reason = ops::openErrorWords(board.openError);
    if (board.opened)
        reason = QStringLiteral("does not identify itself (connect result ") +
                 QString::number(board.connectCode) + QLatin1Char(')');
    entry.insert(QStringLiteral("reason"), reason);
    lines << port + (board.opened ? QStringLiteral("  ") : QStringLiteral("  cannot be opened: ")) +
                 reason;
    const QString advice = board.opened ? QString() : ops::openFailureAdvice(board.openError);
    if (!advice.isEmpty()) {
        entry.insert(QStringLiteral("advice"), advice);
        lines << QStringLiteral("    ") + advice;
    }
    return entry;
}

// The path a board came back under: one no programmer had before, or the old one once the
// board was seen gone from it; with an id, only a board that has it.
QString returnedPath(const std::shared_ptr<usb::UsbTransport> &transport, const QStringList &now,
                     const QString &oldPath, QStringList &before, bool leftOldPath,
                     std::optional<uint32_t> boardId, const std::function<bool()> &stop)
{
    for (const QString &path : now) {
        if (before.contains(path) && !(leftOldPath && path == oldPath))
            continue;
        if (!boardId)
            return path;
        const BoardProbe probe = probeBoard(transport, path, stop);
        if (probe.boardId == boardId)
            return path;
        if (probe.boardId)
            before << path; // another board: not looked at again; one not yet ready is
    }
    return QString();
}

} // namespace

QString portOfPath(const QString &path)
{
    static const QRegularExpression usb(QStringLiteral("^usb:([0-9][0-9.-]*)/"));
    static const QRegularExpression emulated(QStringLiteral("^(emu:[0-9-]+) "));
    for (const QRegularExpression *pattern : {&usb, &emulated}) {
        const QRegularExpressionMatch match = pattern->match(path);
        if (match.hasMatch())
            return match.captured(1);
    }
    return QString();
}

bool BoardProbe::ready() const
{
    return boardId && mode == protocol::ConnectionMode::NormalWork;
}

QString BoardProbe::tag() const
{
    if (boardId)
        return idText(*boardId);
    return port.isEmpty() ? path : port;
}

QString BoardProbe::selector() const
{
    return port.isEmpty() && boardId ? idText(*boardId) : port;
}

BoardProbe probeBoard(const std::shared_ptr<usb::UsbTransport> &transport, const QString &path,
                      const std::function<bool()> &stop)
{
    BoardProbe probe;
    probe.path = path;
    probe.port = portOfPath(path);
    // The link leaves the bus's device news alone: the session waiting for a restarting board
    // must go on hearing it.
    Discard quiet;
    ProbeFrontEnd frontEnd(quiet, stop);
    const ops::ProgrammerLink link(transport, frontEnd, ops::ProgrammerLink::News::LeftAlone);
    const int code = ops::openProgrammer(link.session(), path);
    probe.opened = code != ops::kProgrammerNotOpen;
    probe.openError = link.device().lastOpenError();
    probe.connectCode = code;
    if (code == 0) {
        const ops::ProgrammerState &state = link.session().state;
        probe.boardId = state.boardId;
        probe.mode = state.connectionMode;
        probe.bootVersion = state.bootVersion;
        probe.appVersion = state.appVersion;
    }
    return probe;
}

QList<BoardProbe> findBoards(const std::shared_ptr<usb::UsbTransport> &transport, bool identify)
{
    QList<BoardProbe> boards;
    for (const QString &path : transport->findProgrammers()) {
        if (identify) {
            boards << probeBoard(transport, path);
            continue;
        }
        BoardProbe unopened;
        unopened.path = path;
        unopened.port = portOfPath(path);
        boards << unopened;
    }
    return boards;
}

bool choosingNeedsIds(const QString &wanted)
{
    return wanted.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
}

BoardChoice chooseBoard(const QList<BoardProbe> &found, const QString &wanted)
{
    BoardChoice choice;
    choice.exitCode = NoBoard;
    if (wanted.isEmpty()) {
        if (found.size() == 1)
            choice.path = found.first().path;
        else if (found.isEmpty())
            choice.error = QStringLiteral("no programmer found; is it plugged in?");
        else
            choice.error = QStringLiteral("several programmers found; pick one with --device:") +
                           listed(found);
        return choice;
    }
    QList<BoardProbe> matches = matching(found, wanted, true);
    if (matches.isEmpty())
        matches = matching(found, wanted, false);
    if (matches.size() == 1) {
        choice.path = matches.first().path;
    } else if (matches.isEmpty()) {
        choice.error = QStringLiteral("no programmer at ") + wanted +
                       (found.isEmpty() ? QStringLiteral("; no programmer was found")
                                        : QStringLiteral("; found:") + listed(found));
    } else {
        choice.exitCode = UsageError;
        choice.error = QStringLiteral("--device ") + wanted +
                       QStringLiteral(" fits several programmers; give more of it:") +
                       listed(matches);
    }
    return choice;
}

SubcommandResult runList(const std::shared_ptr<usb::UsbTransport> &transport)
{
    SubcommandResult result;
    result.subcommand = subcommandName(Subcommand::List);
    QJsonArray boards;
    for (const BoardProbe &board : findBoards(transport, true))
        boards.append(listEntry(board, result.summary));
    result.details.insert(QStringLiteral("boards"), boards);
    if (boards.isEmpty()) {
        result.exitCode = NoBoard;
        result.error = QStringLiteral("no programmer found; is it plugged in?");
    }
    return result;
}

LeavingWatch::LeavingWatch(ops::ProgrammerLink &link) : link_(link)
{
    link_.setDeviceNewsHandler([this](bool arrived, const QString &name) {
        if (arrived) {
            ops::deviceArrived(link_.session(), name);
            return;
        }
        left_ << name;
        ops::deviceRemoved(link_.session(), name);
    });
}

LeavingWatch::~LeavingWatch()
{
    link_.setDeviceNewsHandler(nullptr);
}

QString waitForReturn(const std::shared_ptr<usb::UsbTransport> &transport, const QString &oldPath,
                      const QStringList &before, const LeavingWatch &leaving,
                      std::optional<uint32_t> boardId, int timeoutMs,
                      const std::function<bool()> &stop)
{
    // A search of the bus is not free on real USB; a board takes a second or more to come back.
    constexpr int kPollMs = 20;
    QElapsedTimer clock;
    clock.start();
    QStringList seen = before;
    bool leftOldPath = false;
    while (!clock.hasExpired(timeoutMs)) {
        QCoreApplication::processEvents();
        if (stop())
            break;
        const QStringList now = transport->findProgrammers();
        leftOldPath = leftOldPath || leaving.left(oldPath) || !now.contains(oldPath);
        const QString path =
            returnedPath(transport, now, oldPath, seen, leftOldPath, boardId, stop);
        if (!path.isEmpty())
            return path;
        QThread::msleep(kPollMs);
    }
    return QString();
}

} // namespace zq::cli
