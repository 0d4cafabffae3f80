#pragma once

// Where a run's lines go: the console as text (with its progress bar) or as JSON lines, the
// log file that records every run, and zqprog's version as both name it.

#include "frontend/FrontEnd.h"

#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

namespace zq::cli
{

// One line in UTF-8 with its line end, flushed at once: a script or a production line that
// reads zqprog through a pipe sees each line as it happens.
void writeLine(std::FILE *stream, const QString &line);

// Text as it is, flushed.
void writeText(std::FILE *stream, const QString &text);

// Whether the stream is a terminal, so that a progress bar may redraw itself in place.
bool isTerminal(std::FILE *stream);

// The image an operation works with, as zqprog read it before it opened the board.
struct ImageIdentity {
    QString file;   // as given on the command line
    QString format; // "raw binary", "Intel HEX", ...
    uint32_t crc = 0;
    int32_t length = 0;
    uint32_t base = 0; // the address of its first byte
};

// How a subcommand ended, and what it worked on.
struct SubcommandResult {
    QString subcommand; // its name; the JSON result's "command"
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

    // What the record of a run that worked a board needs, as the run learned it.
    struct Facts {
        bool boardLeft = false;       // the bus said the board left during the operation
        bool targetRunFailed = false; // the run step said the target did not start
        int lastExchange = 0;         // how the last exchange with the board ended (a Result)
        std::optional<qint64> initMs, writeMs, checkMs;
    } facts;
    QString jobHash;     // run: the job's hash
    QString imageSha256; // of the image as read, before a serial number went into it
    QString serial;      // the serial number written into the unit's image
};

// A line "Label:      text" for a reader (the text starting at column width) and the same fact
// under key in the JSON result, as info and job show report what they found.
void addSummaryField(SubcommandResult &result, int width, const QString &label, const QString &key,
                     const QJsonValue &value, const QString &text);

// The stage a progress value belongs to, as the operations announce it ("write", "check",
// "message"): they restart their bar at 0 for each.
using Stage = FrontEnd::Stage;
QString phaseName(Stage stage);

// Where a run's lines go: the console as text or as JSON lines, and optionally a log file too.
class Output
{
public:
    virtual ~Output() = default;
    // A line of the operation's log, as the window's log panel shows it.
    virtual void log(const QString &line) = 0;
    virtual void progress(int percent, Stage phase) = 0;
    // What the window shows in a message box; title "Message" or "Error".
    virtual void message(const QString &title, const QString &text) = 0;
    // zqprog's own remarks while it works (waiting for a programmer to come back).
    virtual void note(const QString &text) = 0;
    // The board has identified itself (or the run ended before it could): what is known of
    // the run so far, for a record that starts with it.
    virtual void identified(const SubcommandResult &) {}
    virtual void result(const SubcommandResult &result) = 0;
    // The exit status once the result is out: a record that could not be kept fails the run.
    virtual int finalExit(int exitCode) const { return exitCode; }
};

// The progress of a block transfer on stdout: a bar that redraws itself on a terminal, and a
// plain "Progress: 42%" line for each new value anywhere else (a pipe, a file, a CI log).
// Log lines are written between bars, never into one.
class ProgressDisplay
{
public:
    ProgressDisplay(std::FILE *stream, bool terminal);

    void show(int percent);
    // Around a log line: the bar steps aside and comes back below it while work goes on.
    void beforeLine();
    void afterLine();
    // The operation is over: no bar remains.
    void finish();

private:
    void draw();

    std::FILE *stream_;
    bool terminal_;
    int percent_ = -1;
    bool drawn_ = false;
};

// For a reader: the log on stdout exactly as the log panel shows it, the message boxes' texts
// on stderr word for word, zqprog's own remarks on stderr after "zqprog: ".
class TextOutput : public Output
{
public:
    TextOutput();

    void log(const QString &line) override;
    void progress(int percent, Stage phase) override;
    void message(const QString &title, const QString &text) override;
    void note(const QString &text) override;
    void result(const SubcommandResult &result) override;

private:
    ProgressDisplay progress_;
};

// The version of the JSON lines zqprog prints (docs/zqprog-json.md), in every object as
// "schemaVersion". It changes when a key is removed or changes its type or meaning; new keys
// may appear without a change.
constexpr int kJsonSchemaVersion = 1;

// For a program: one compact JSON object per line on stdout and nothing else there, each with
// "kind" and "schemaVersion"; docs/zqprog-json.md lists every kind and key.
//   {"kind":"log","board":74565,"text":"..."}
//   {"kind":"progress","board":74565,"phase":"write","percent":42}
//   {"kind":"message","board":null,"title":"Message","text":"..."}
//   {"kind":"result","command":"program","exit":0,"code":0,"crc":1234,...}
// Message texts and remarks also go to stderr for a human watching.
class JsonOutput : public Output
{
public:
    void log(const QString &line) override;
    void progress(int percent, Stage phase) override;
    void message(const QString &title, const QString &text) override;
    void note(const QString &text) override;
    void identified(const SubcommandResult &run) override { board_ = run.boardId; }
    void result(const SubcommandResult &result) override;

private:
    // Every line says which board it is about (null until the board has identified itself), so
    // the lines of several boards can be told apart (--all).
    QJsonValue board() const { return board_ ? QJsonValue(qint64(*board_)) : QJsonValue(); }

    std::optional<uint32_t> board_;
    int lastPercent_ = -1;
    Stage lastPhase_ = Stage::Write;
};

// The result line's object (also what the tests read back).
QJsonObject resultObject(const SubcommandResult &result);

// One object as its line on stdout, with the schema's version added.
void writeJsonLine(QJsonObject object);

// The release ("1.20").
QString programVersion();
// What the build was made from: `git describe --always --dirty` when it was configured in a
// git checkout, otherwise the release. A log that names it says which code handled a board.
QString buildDescription();
// "zqprog 1.20 (build 4826b28-dirty)"
QString versionLine();
// The same for a program: {"kind":"version", ...}.
QJsonObject versionObject();

// Passes everything on to the console's output and appends every line, with the date, the time
// and the board's id, to a log file: the record a production line keeps of each board it
// handled, which several runs may share. Each run starts with a header (zqprog's version, the
// command line, the board's id and path, the image's path, format, CRC and length). Lines
// before the board has identified itself are held back until then, so the header comes first
// and they carry the id too. Progress is left out; the log's own "Timer:" lines and the verdict
// tell how it went. A line that cannot be written makes the run fail (exit 1): a record with
// holes is no record.
class LogFileOutput : public Output
{
public:
    // Null, with the reason, when the file cannot be opened for appending. The log is a regular
    // file (made when missing; a link to one is written through) or a FIFO with a reader; a FIFO
    // with none, a folder, a device or a socket is refused at once, never waited on.
    static std::unique_ptr<Output> open(const QString &path, std::unique_ptr<Output> console,
                                        const QStringList &arguments, QString *error);

    void log(const QString &line) override;
    void progress(int percent, Stage phase) override;
    void message(const QString &title, const QString &text) override;
    void note(const QString &text) override;
    void identified(const SubcommandResult &run) override;
    void result(const SubcommandResult &result) override;
    int finalExit(int exitCode) const override;

private:
    LogFileOutput(std::unique_ptr<Output> console, const QStringList &arguments);
    void append(const QString &line);
    void write(const QString &stamp, const QString &line);

    std::unique_ptr<Output> console_;
    QStringList arguments_;
    QString path_;
    QFile file_;
    QString tag_;
    bool headerWritten_ = false;
    QList<QPair<QString, QString>> held_; // time stamp and line, waiting for the header
    QString writeError_;
};

// The command line as a shell would take it back: arguments quoted where needed.
QString shellCommandLine(const QStringList &arguments);

} // namespace zq::cli
