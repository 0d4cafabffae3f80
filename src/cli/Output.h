#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace zq::cli
{

// How a subcommand ended.
struct CommandResult {
    QString command;
    int exitCode = 0;
    std::optional<int> code; // the operation's result code, when an operation ran
    QString error;           // zqprog's own reason for a refusal or failure; empty otherwise
    QStringList summary;     // lines for a reader (what list and info found)
    QJsonObject details;     // the same for a program
};

// Where a run's lines go: the console as text or as JSON lines, and optionally a log file too.
class Output
{
public:
    virtual ~Output() = default;
    // A line of the operation's log, as the window's log panel shows it.
    virtual void log(const QString &line) = 0;
    virtual void progress(int percent) = 0;
    // What the window shows in a message box; title "Message" or "Error".
    virtual void message(const QString &title, const QString &text) = 0;
    // zqprog's own remarks while it works (waiting for a programmer to come back).
    virtual void note(const QString &text) = 0;
    virtual void result(const CommandResult &result) = 0;
};

} // namespace zq::cli
