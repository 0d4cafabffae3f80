#include "cli/SubcommandTable.h"

#include "operations/Operations.h"

#include <QStringList>

namespace zq::cli
{

namespace
{

constexpr FileRule kNoFile{};
constexpr FileRule kCodeImage{FileKind::Code};
constexpr FileRule kAppImage{FileKind::Programmer, "app", "the programmer's application",
                             "an application image"};
constexpr FileRule kJobFile{FileKind::Job};
constexpr FileRule kBootImage{FileKind::Programmer, "boot", "the programmer's boot loader",
                              "a boot loader image"};

constexpr BoardNeeds kNoNeeds{};
constexpr BoardNeeds kOperations{WindowButton::Operations};
// The flash buttons: only for a flash that Flash.ini lists.
constexpr BoardNeeds kOperationsOnKnownFlash{WindowButton::Operations, true};
constexpr BoardNeeds kUpdateApp{WindowButton::UpdateApp};
// Never started unasked: --allow-boot-update.
constexpr BoardNeeds kUpdateBootAllowed{WindowButton::UpdateBoot, false, true};

constexpr auto kNotJudged = TargetRun::NotJudged;
constexpr auto kMustStart = TargetRun::MustStart;

// The help of each subcommand: its line in the overview and its own text.
constexpr SubcommandHelp kListHelp{"the programmers found: port path, board id, mode and versions",
                                   R"(Usage: zqprog list [--emulated[=DIR]]... [--json] [--log FILE]

Lists the programmers found on USB (or the emulated ones), each opened and identified: its
port path (bus and hub ports, stable while it stays in that port), board id, mode and boot
and application versions. When it cannot be opened, the reason (no permission, busy, gone)
and the remedy. The port path and the id are what --device takes. Exit status 3 when none
is found.
)"};

constexpr SubcommandHelp kInfoHelp{
    "open and identify: mode, versions, board MCU and id, flash",
    R"(Usage: zqprog info [--device BOARD] [--emulated[=DIR]] [--json] [--log FILE]

Opens the programmer and identifies it, as "Open programmer" does: its connection mode, boot
loader and application versions, board MCU and id, and its flash id, size and name (from
Flash.ini in the current directory).
)"};

constexpr SubcommandHelp kDownloadHelp{
    "store a code image in the programmer's flash (needs --mcu)",
    R"(Usage: zqprog download FILE --mcu TYPE [--number N] [--speed high|middle|low]
                       [--device BOARD | --all] [--emulated[=DIR]]... [--json] [--log FILE]

Stores the code image FILE (.bin) in the programmer's flash, with the settings the programmer
uses when it programs targets on its own.

  --mcu TYPE            the target's MCU type: ZQ0000, ZQ51K02, ZQ240y, ZQ318, ZQ427, ZQ436
                        or ZQ605
  --number N            how many targets the programmer may program (default 100000)
  --speed SPEED         SWD speed: high (default), middle or low

Refused unless the programmer is in normal work and its flash is listed in Flash.ini.
)"};

constexpr SubcommandHelp kCheckHelp{"check the image in the programmer's flash against FILE",
                                    R"(Usage: zqprog check FILE [--device BOARD | --all]
                    [--emulated[=DIR]]... [--json] [--log FILE]

Has the programmer check the image in its flash against the CRC and length of FILE.
Refused unless the programmer is in normal work and its flash is listed in Flash.ini.
)"};

constexpr SubcommandHelp kProgramHelp{
    "program the target MCU over SWD, check it and let it run",
    R"(Usage: zqprog program FILE [--speed high|middle|low] [--keep-power]
                      [--device BOARD | --all] [--emulated[=DIR]]... [--json] [--log FILE]

Programs the target MCU over SWD with the code image FILE (.bin), checks it by CRC and lets
it run. The target's type is the one it reports.

  --speed SPEED         SWD speed: high (default), middle or low
  --keep-power          leave the target powered when done (by default its supply is cut)

Refused while the programmer waits for a new application (update of the MCU code).
)"};

constexpr SubcommandHelp kVerifyHelp{
    "check the target MCU against FILE",
    R"(Usage: zqprog verify FILE [--speed high|middle|low] [--keep-power]
                     [--device BOARD | --all] [--emulated[=DIR]]... [--json] [--log FILE]

Checks the target MCU's flash against the CRC and length of FILE and lets the target run.
Refused while the programmer waits for a new application (update of the MCU code).
)"};

constexpr SubcommandHelp kUpdateAppHelp{
    "replace the programmer's application (.app image)",
    R"(Usage: zqprog update-app FILE [--device BOARD] [--emulated[=DIR]] [--json] [--log FILE]

Writes the firmware image FILE (.app) as the programmer's application. Only possible while
the programmer reports update of the MCU code (its boot loader runs). The programmer then
restarts; zqprog waits for it to come back and reports its new mode.
)"};

constexpr SubcommandHelp kUpdateBootHelp{"replace the programmer's boot loader (.boot image)",
                                         R"(Usage: zqprog update-boot FILE --allow-boot-update
                          [--device BOARD] [--emulated[=DIR]] [--json] [--log FILE]

Writes the boot image FILE (.boot) as the programmer's boot loader. A wrong or interrupted
boot update can leave the board unable to start, so it is refused unless
--allow-boot-update is given, and only possible while the programmer is in normal work.
The programmer then restarts; zqprog waits for it to come back and reports its new mode.
)"};

constexpr SubcommandHelp kJobHelp{
    "make a job file that pins an image by hash, or show one",
    R"(Usage: zqprog job create --image FILE --name NAME -o JOB [--operation program|download]
                  [--revision TEXT] [--mcu TYPE] [--speed high|middle|low] [--keep-power]
                  [--number N] [--limit N] [serial options]
       zqprog job show JOB [--json]

create writes a job file JOB for a line: the image (its path relative to the job), its SHA-256,
CRC-32, length and format as zqprog reads it now, the operation and the panel's choices.
show prints a job and its hash, and checks its image against what it pins.

  --image FILE          the code image (raw, Intel HEX, S-record or ELF)
  --name NAME           the job's name; --revision TEXT its revision
  --operation OP        program (default: programs and checks each unit) or download (stores
                        the image in the programmer for stand-alone work; needs --mcu)
  --limit N             refuse to run once N units of this job have passed (all stations)
  -o, --output JOB      the job file to write

Serial numbers (program jobs only), written into each unit's image before it is sent:
  --serial-address A    the address of the number's first byte (the image's base plus offset)
  --serial-length L     its bytes (default 4)
  --serial-encoding E   le or be (binary), ascii-dec or ascii-hex (zero-padded); default le
  --serial-start N      a counter from N (default 1) by --serial-step S (default 1) up to
  --serial-last N       N (default: the largest the field holds)
  --serial-list FILE    or the numbers of FILE, one a line, in order
  --serial-series NAME  numbers are handed out once per series and store (default: the name)

docs/job-file.md describes the file.
)"};

constexpr SubcommandHelp kRunHelp{
    "run a job: its operation, serial number and record",
    R"(Usage: zqprog run JOB [--device BOARD | --all] [--unit LABEL] [--station NAME]
                  [--operator NAME] [--records STORE | --no-records] [--emulated[=DIR]]...
                  [--json] [--log FILE]

Runs the job file JOB on a programmer: its operation with its choices, on the image it pins.
A job whose image no longer matches its hash, or that does not read, is refused before any
board is touched. A job with serial numbers reserves the next number in the record store
before the first frame goes to the target, writes it into the image, and records whether the
unit passed; a job at its limit is refused. Every run leaves a record (see zqprog records).

  --unit LABEL          the unit's own label (a scanned barcode), kept in its record
)"};

constexpr SubcommandHelp kRecordsHelp{
    "the production records: list, show, yield, export, verify, sync",
    R"(Usage: zqprog records list [FILTERS] [--last N]
       zqprog records show SERIAL
       zqprog records yield [FILTERS] [--by day|hour|station|board|port|job]
       zqprog records export [FILTERS] [--format csv|json] [--output FILE]
       zqprog records verify
       zqprog records sync

list shows the records newest first; show every attempt of one unit; yield the attempts,
units, first-pass and final yield and the failures by class; export the records for a
spreadsheet or a program; verify walks the records' hash chain and names the first record that
was changed, removed or inserted; sync forwards the records waiting in the spool.

Filters: --serial S, --board ID, --job HASH (its start), --station NAME,
--result passed|failed|CLASS, --since TIME, --until TIME (2026-12-11, 2026-12-11T14:00, today,
yesterday, -24h).
The store is --records STORE, else the default one (see zqprog --help).
)"};

using S = Subcommand;

constexpr const char *kJobOptions =
    "image output name revision operation mcu number speed keep-power limit serial-address "
    "serial-length serial-encoding serial-start serial-step serial-last serial-list serial-series";
constexpr const char *kRecordsOptions = "serial board job result since until last by format output";

// One row per subcommand, in the order the overview lists them.
// clang-format off
const SubcommandRow kRows[] = {
//   subcommand     name           file         board needs              own options             operation                     target run  signals  help
    {S::List,       "list",        kNoFile,     kNoNeeds,                "",                     nullptr,                      kNotJudged, 0,       kListHelp},
    {S::Info,       "info",        kNoFile,     kNoNeeds,                "",                     nullptr,                      kNotJudged, 0,       kInfoHelp},
    {S::Download,   "download",    kCodeImage,  kOperationsOnKnownFlash, "mcu number speed all", ops::downloadToProgrammer,    kNotJudged, 0,       kDownloadHelp},
    {S::Check,      "check",       kCodeImage,  kOperationsOnKnownFlash, "all",                  ops::checkSpiFlash,           kNotJudged, 0,       kCheckHelp},
    {S::Program,    "program",     kCodeImage,  kOperations,             "speed keep-power all", ops::programTargetOperation,  kMustStart, 0,       kProgramHelp},
    {S::Verify,     "verify",      kCodeImage,  kOperations,             "speed keep-power all", ops::verifyTarget,            kNotJudged, 0,       kVerifyHelp},
    {S::UpdateApp,  "update-app",  kAppImage,   kUpdateApp,              "",                     ops::updateFirmware,          kNotJudged, 0,       kUpdateAppHelp},
    {S::UpdateBoot, "update-boot", kBootImage,  kUpdateBootAllowed,      "allow-boot-update",    ops::updateBoot,              kNotJudged, 1,       kUpdateBootHelp},
    {S::Job,        "job",         kNoFile,     kNoNeeds,                kJobOptions,            nullptr,                      kNotJudged, 0,       kJobHelp,     "create show:FILE"},
    // The job's operation takes its place once the job is read (program or download).
    {S::Run,        "run",         kJobFile,    kOperations,             "all",                  nullptr,                      kMustStart, 0,       kRunHelp},
    {S::Records,    "records",     kNoFile,     kNoNeeds,                kRecordsOptions,        nullptr,                      kNotJudged, 0,       kRecordsHelp, "list show:SERIAL yield export verify sync"},
};
// clang-format on

const SubcommandRow kNone{S::None, "", kNoFile, kNoNeeds, "", nullptr, kNotJudged, 0, {"", ""}};

// The overview, around the subcommands' lines.
const char *const kOverviewStart = R"(Usage: zqprog SUBCOMMAND [FILE] [OPTIONS]

Drives a ZQ programmer board from the command line, with the same operations and log lines as
the ZQ Programmer window.

Subcommands:
)";

const char *const kOverviewEnd = R"(
Options for every subcommand:
  --device BOARD        the programmer to use: its board id (0x00012345), its port path
                        (1-1.4) or its device path, or the start of one that fits only it;
                        needed when several are plugged in
  --emulated[=DIR]      use the built-in emulated programmer instead of USB; with DIR its
                        state (flash contents, mode, versions) is kept in DIR between runs;
                        given several times, one emulated programmer each
  --json                one JSON object per line on stdout (log, progress, message, result)
  --log FILE            also append every line, with date, time and board id, to FILE
  --no-progress         no progress bar or progress lines
  --verbose             also the developer log on standard error: frames out, replies in,
                        time-outs, cancellations (as QT_LOGGING_RULES="zq.*.debug=true")
  --flash-ini FILE      the flash catalogue to use
  --records STORE       keep the records in STORE: an SQLite file, or a PostgreSQL database
                        (postgresql://user@host/db, or "host=... dbname=..."); by default
                        ~/.local/share/zq-programmer/records.sqlite; emulated boards keep
                        none unless --records is given
  --no-records          keep no record of this run
  --station NAME        the station in the records (default: the host name)
  --operator NAME       the operator in the records (default: the login name)
  --version             zqprog's version and the build it is
  -h, --help            this help, or a subcommand's help: zqprog program --help

Flash.ini is the first found of: --flash-ini FILE, ./Flash.ini,
$XDG_CONFIG_HOME/zq-programmer/Flash.ini (~/.config when unset), the installed sample.
config.ini is neither read nor written. zqprog list prints each board's port path and id,
which need no quoting (a device path holds '&': quote it).

download, check, program, verify and run take --all: the operation runs on every programmer
found at once, each line tagged with the board's id, then a summary (board, result, code,
seconds, the image's CRC); a board that is not ready (cannot be opened, or not in normal work)
fails. The boards' zqprogs stop with it, however it ends.

Ctrl-C or SIGTERM stops the operation after the frame in flight (exit 130); during
update-boot the first Ctrl-C is refused.

Exit status: 0 success; 1 the operation failed or was refused, the target did not run, the
log file could not be written, or with --all a board did not succeed; 2 usage error, also a
--device that fits several programmers; 3 no programmer, several and no --device, it cannot
be opened (busy, no permission), or the record store cannot be reached for a job with serial
numbers; 130 interrupted.
)";

constexpr int kUsageColumn = 22; // where the overview's descriptions start, after two spaces

QString overview()
{
    QString text = QString::fromUtf8(kOverviewStart);
    for (const SubcommandRow &row : kRows) {
        const QString usage = row.nameText() + (row.takesFile()     ? QStringLiteral(" FILE")
                                                : row.takesAction() ? QStringLiteral(" ACTION")
                                                                    : QString());
        text += QStringLiteral("  ") + usage.leftJustified(kUsageColumn) +
                QString::fromUtf8(row.help.summary) + QLatin1Char('\n');
    }
    return text + QString::fromUtf8(kOverviewEnd);
}

} // namespace

bool SubcommandRow::takesOption(const QString &option) const
{
    return QString::fromLatin1(options).split(QLatin1Char(' ')).contains(option);
}

bool SubcommandRow::hasAction(const QString &action, QString *argument) const
{
    for (const QString &entry : QString::fromLatin1(actions).split(QLatin1Char(' '))) {
        if (entry.section(QLatin1Char(':'), 0, 0) == action) {
            *argument = entry.section(QLatin1Char(':'), 1);
            return true;
        }
    }
    return false;
}

QString SubcommandRow::actionNames() const
{
    QStringList names;
    for (const QString &entry : QString::fromLatin1(actions).split(QLatin1Char(' ')))
        names << entry.section(QLatin1Char(':'), 0, 0);
    const QString last = names.takeLast();
    return names.isEmpty() ? last
                           : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

const SubcommandRow &rowOf(Subcommand subcommand)
{
    for (const SubcommandRow &row : kRows)
        if (row.subcommand == subcommand)
            return row;
    return kNone;
}

Subcommand subcommandForName(const QString &name)
{
    for (const SubcommandRow &row : kRows)
        if (name == QLatin1String(row.name))
            return row.subcommand;
    return Subcommand::None;
}

QString subcommandName(Subcommand subcommand)
{
    return rowOf(subcommand).nameText();
}

const SubcommandRow *updateForSuffix(const QString &suffix)
{
    for (const SubcommandRow &row : kRows)
        if (row.updatesProgrammer() &&
            suffix.compare(QLatin1String(row.file.suffix), Qt::CaseInsensitive) == 0)
            return &row;
    return nullptr;
}

QString helpText(Subcommand subcommand)
{
    if (subcommand == Subcommand::None)
        return overview();
    return QString::fromUtf8(rowOf(subcommand).help.text);
}

} // namespace zq::cli
