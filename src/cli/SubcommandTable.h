#pragma once

// zqprog's subcommands, one row each: its name, its FILE, what it needs of the board, the
// operation it runs, the signals it lets through and its help. The rest of zqprog reads the row,
// so a subcommand is added by adding its row and its help (SubcommandTable.cpp).

#include <QString>

namespace zq::ops
{
struct Session;
}

namespace zq::cli
{

enum class Subcommand {
    None,
    List,
    Info,
    Download,
    Check,
    Program,
    Verify,
    UpdateApp,
    UpdateBoot,
    Job,
    Run,
    Records
};

// What a subcommand's FILE is.
enum class FileKind {
    None,       // it takes no FILE
    Code,       // a code image for the target: raw, Intel HEX, S-record or ELF
    Programmer, // the programmer's own raw image; the programmer restarts into it afterwards
    Job,        // a job file (records/Job.h): it names the image and the operation
};

struct FileRule {
    FileKind kind = FileKind::None;
    // A programmer image: the suffix the window's dialog shows it by ("app"), which every other
    // update refuses, what it replaces ("the programmer's application") and what a file with
    // that suffix is taken for ("an application image").
    const char *suffix = "";
    const char *replaces = "";
    const char *imageName = "";
};

// The window's button for the subcommand. The connect leaves it enabled or not, and zqprog
// refuses what it would not have let the user start.
enum class WindowButton {
    None,       // nothing to refuse
    Operations, // Download, Check SpiFlash CRC, Program, Verify: enabled in normal work
    UpdateApp,  // enabled while the boot loader waits for an application
    UpdateBoot, // enabled in normal work
};

struct BoardNeeds {
    WindowButton button = WindowButton::None;
    bool flashKnown = false;        // the programmer's flash must be listed in Flash.ini
    bool bootUpdateAllowed = false; // refused before any board is opened without the option
};

// After an operation that ends with a run of the target: whether a target that did not start
// fails the subcommand (the window calls Program OK all the same).
enum class TargetRun { NotJudged, MustStart };

struct SubcommandHelp {
    const char *summary; // its line in the overview
    const char *text;    // its own help; ends with a line end
};

struct SubcommandRow {
    Subcommand subcommand;
    const char *name; // as typed: "update-app"
    FileRule file;
    BoardNeeds needs;
    const char *options; // its own options, besides every subcommand's: "mcu number speed all"
    // The operation on the opened and identified programmer; null for none (list and info).
    int (*operation)(ops::Session &);
    TargetRun targetRun;
    // Signals that do not stop the operation: an interrupted boot update leaves a programmer
    // that cannot start.
    int signalsLetThrough;
    SubcommandHelp help;
    // What a subcommand of several actions does, as typed after it ("create show:FILE": show
    // takes a word, named FILE in messages); empty for the others.
    const char *actions = "";

    QString nameText() const { return QString::fromLatin1(name); }
    bool takesFile() const { return file.kind != FileKind::None; }
    bool updatesProgrammer() const { return file.kind == FileKind::Programmer; }
    bool takesOption(const QString &option) const;
    bool takesAction() const { return *actions != 0; }
    // Whether action is one of them; *argument then names its word, empty when it takes none.
    bool hasAction(const QString &action, QString *argument) const;
    QString actionNames() const; // "create or show"
};

// The row of a subcommand; None's takes nothing, needs nothing and has no name.
const SubcommandRow &rowOf(Subcommand subcommand);
// None for a name that is no subcommand.
Subcommand subcommandForName(const QString &name);
QString subcommandName(Subcommand subcommand);

// Among the updates, the one a file with this suffix (in any case) is named for.
const SubcommandRow *updateForSuffix(const QString &suffix);

// The help of one subcommand, or the overview for None. Ends with a line end.
QString helpText(Subcommand subcommand);

} // namespace zq::cli
