#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace zq::cli
{

// The image an operation works with, as zqprog read it before it opened the board.
struct ImageIdentity {
    QString file;   // as given on the command line
    QString format; // "raw binary", "Intel HEX", ...
    uint32_t crc = 0;
    int32_t length = 0;
    uint32_t base = 0; // the address of its first byte
};

// How a subcommand ended, and what it worked on.
struct CommandResult {
    QString command;
    int exitCode = 0;
    std::optional<int> code; // the operation's result code, when an operation ran
    QString error;           // zqprog's own reason for a refusal or failure; empty otherwise
    QStringList summary;     // lines for a reader (what list and info found)
    QJsonObject details;     // what only this subcommand reports, for a program

    std::optional<ImageIdentity> image;
    QString device;                   // the programmer's path, once chosen
    std::optional<uint32_t> boardId;  // once it identified itself
    std::optional<uint32_t> targetId; // the target MCU's id, when an operation learned it
    QString flashIni;                 // the catalogue used, when one was looked for
    qint64 durationMs = 0;
};

// The stage a progress value belongs to: the operations restart their bar at 0 for each.
enum class Phase { Write, Check, Message };
QString phaseName(Phase phase);

// Where a run's lines go: the console as text or as JSON lines, and optionally a log file too.
class Output
{
public:
    virtual ~Output() = default;
    // A line of the operation's log, as the window's log panel shows it.
    virtual void log(const QString &line) = 0;
    virtual void progress(int percent, Phase phase) = 0;
    // What the window shows in a message box; title "Message" or "Error".
    virtual void message(const QString &title, const QString &text) = 0;
    // zqprog's own remarks while it works (waiting for a programmer to come back).
    virtual void note(const QString &text) = 0;
    // The board has identified itself (or the run ended before it could): what is known of
    // the run so far, for a record that starts with it.
    virtual void identified(const CommandResult &) {}
    virtual void result(const CommandResult &result) = 0;
    // The exit status once the result is out: a record that could not be kept fails the run.
    virtual int finalExit(int exitCode) const { return exitCode; }
};

} // namespace zq::cli
