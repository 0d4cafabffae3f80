#pragma once

// zqprog's command line: the subcommands and options it takes, how they are read, and the
// exit statuses a script sees.

#include "cli/SubcommandTable.h"
#include "records/Job.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace zq::cli
{

// What a script sees of a run.
enum ExitCode : int {
    Success = 0,
    OperationFailed = 1, // the operation failed or was refused; the reason was printed
    UsageError = 2,
    NoBoard = 3, // none, several without --device, or the board cannot be opened or answers not
    Interrupted = 130, // SIGINT or SIGTERM stopped the run, as a shell reports a Ctrl-C
};

// One run of zqprog, as the command line asked for it. The values that stand in for the
// window's form start with the form's own initial values.
struct Options {
    Subcommand subcommand = Subcommand::None;
    bool help = false;
    bool version = false;
    QString file;

    int mcuTypeIndex = 0; // index of the MCU type list; download requires --mcu
    QString programNumber = QStringLiteral("100000");
    int swdSpeedIndex = 0; // high
    bool keepPower = false;
    bool allowBootUpdate = false;

    QString device;   // --device: a board id, a port path or a device path, or a prefix of one
    bool all = false; // --all: every ready board at once
    bool emulated = false;
    // One emulated board per --emulated; an empty folder: a fresh board, forgotten afterwards.
    QStringList emulatedStateFolders;
    bool json = false;
    bool noProgress = false;
    bool verbose = false; // the developer log on stderr
    QString logFile;
    QString flashIni;      // --flash-ini; empty: searched for (findFlashIni, Subcommands.h)
    QStringList arguments; // as given, for the log file's record of the run

    // The production records (every subcommand that works a board, and records itself).
    QString records;        // --records: a file or a PostgreSQL address; empty: the default
    bool noRecords = false; // --no-records
    QString station;        // --station; empty: the host name
    QString operatorName;   // --operator; empty: the login name
    QString unit;           // --unit: the unit's own label (a scanned barcode)

    // run FILE: the job, read and checked when the command line is; the subcommand is then
    // the job's operation (program or download), with the job's choices in the fields above.
    QString jobFile;
    std::optional<records::Job> job;

    // job and records: what to do ("create", "show"; "list", "yield", ...) and its word after.
    QString action;
    QString actionArgument;                // job show FILE, records show SERIAL
    QHash<QString, QString> actionOptions; // the action's own options by name ("serial-length")
};

struct ParsedCommandLine {
    Options options;
    QString error; // not empty: a usage error, said in one line
};

// Whether the arguments ask for JSON, judged without reading them otherwise: a usage error is
// reported in the form the caller's script reads.
bool asksForJson(const QStringList &arguments);

// Reads the arguments after the program's name. Options may come before or after the
// subcommand; an option's value follows it or is joined with '=' (--emulated takes a value only
// the second way, so that "--emulated program" stays a subcommand). --help anywhere asks for the
// help of the subcommand given, if any, and nothing else is checked then; --version likewise.
ParsedCommandLine parseCommandLine(const QStringList &arguments);

// The values the window's panel takes, as typed: an MCU type's name in any letter case, a speed
// (high, middle, low), a program number (the form's rule: 10 to 4294967295, no leading zero).
bool parseMcuType(const QString &text, int &index);
QString mcuTypeNames(); // "ZQ0000, ZQ51K02, ..."
bool parseSpeed(const QString &text, int &index);
bool validProgramNumber(const QString &text);

} // namespace zq::cli
