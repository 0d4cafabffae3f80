#pragma once

#include <QString>
#include <QStringList>

namespace zq::cli
{

enum class Command { None, List, Info, Download, Check, Program, Verify, UpdateApp, UpdateBoot };

// The subcommand's name as typed ("update-app"); empty for None.
QString commandName(Command command);
// None for a name that is no subcommand.
Command commandForName(const QString &name);
// Whether the subcommand takes a FILE.
bool takesFile(Command command);

// One run of zqprog, as the command line asked for it. The values that stand in for the
// window's form start with the form's own initial values.
struct Options {
    Command command = Command::None;
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
    QString logFile;
    QString flashIni;      // --flash-ini; empty: searched for (FlashIniSearch.h)
    QStringList arguments; // as given, for the log file's record of the run
};

} // namespace zq::cli
