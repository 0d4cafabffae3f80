#include "cli/HelpText.h"

namespace zq::cli
{

namespace
{

const char *const kOverview = R"(Usage: zqprog SUBCOMMAND [FILE] [OPTIONS]

Drives a ZQ programmer board from the command line, with the same operations and log lines as
the ZQ Programmer window.

Subcommands:
  list                  the programmers found: port path, board id, mode and versions
  info                  open and identify: mode, versions, board MCU and id, flash
  download FILE         store a code image in the programmer's flash (needs --mcu)
  check FILE            check the image in the programmer's flash against FILE
  program FILE          program the target MCU over SWD, check it and let it run
  verify FILE           check the target MCU against FILE
  update-app FILE       replace the programmer's application (.app image)
  update-boot FILE      replace the programmer's boot loader (.boot image)

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
  --version             zqprog's version and the build it is
  -h, --help            this help, or a subcommand's help: zqprog program --help

Flash.ini is the first found of: --flash-ini FILE, ./Flash.ini,
$XDG_CONFIG_HOME/zq-programmer/Flash.ini (~/.config when unset), the installed sample.
config.ini is neither read nor written. zqprog list prints each board's port path and id,
which need no quoting (a device path holds '&': quote it).

download, check, program and verify take --all: the operation runs on every programmer
found at once, each line tagged with the board's id, then a summary (board, result, code,
seconds, the image's CRC); a board that is not ready (cannot be opened, or not in normal work)
fails. The boards' zqprogs stop with it, however it ends.

Ctrl-C or SIGTERM stops the operation after the frame in flight (exit 130); during
update-boot the first Ctrl-C is refused.

Exit status: 0 success; 1 the operation failed or was refused, the target did not run, the
log file could not be written, or with --all a board did not succeed; 2 usage error, also a
--device that fits several programmers; 3 no programmer, several and no --device, or it
cannot be opened (busy, no permission); 130 interrupted.
)";

const char *const kList = R"(Usage: zqprog list [--emulated[=DIR]]... [--json] [--log FILE]

Lists the programmers found on USB (or the emulated ones), each opened and identified: its
port path (bus and hub ports, stable while it stays in that port), board id, mode and boot
and application versions. When it cannot be opened, the reason (no permission, busy, gone)
and the remedy. The port path and the id are what --device takes. Exit status 3 when none
is found.
)";

const char *const kInfo =
    R"(Usage: zqprog info [--device BOARD] [--emulated[=DIR]] [--json] [--log FILE]

Opens the programmer and identifies it, as "Open programmer" does: its connection mode, boot
loader and application versions, board MCU and id, and its flash id, size and name (from
Flash.ini in the current directory).
)";

const char *const kDownload =
    R"(Usage: zqprog download FILE --mcu TYPE [--number N] [--speed high|middle|low]
                       [--device BOARD | --all] [--emulated[=DIR]]... [--json] [--log FILE]

Stores the code image FILE (.bin) in the programmer's flash, with the settings the programmer
uses when it programs targets on its own.

  --mcu TYPE            the target's MCU type: ZQ0000, ZQ51K02, ZQ240y, ZQ318, ZQ427, ZQ436
                        or ZQ605
  --number N            how many targets the programmer may program (default 100000)
  --speed SPEED         SWD speed: high (default), middle or low

Refused unless the programmer is in normal work and its flash is listed in Flash.ini.
)";

const char *const kCheck =
    R"(Usage: zqprog check FILE [--device BOARD | --all]
                    [--emulated[=DIR]]... [--json] [--log FILE]

Has the programmer check the image in its flash against the CRC and length of FILE.
Refused unless the programmer is in normal work and its flash is listed in Flash.ini.
)";

const char *const kProgram = R"(Usage: zqprog program FILE [--speed high|middle|low] [--keep-power]
                      [--device BOARD | --all] [--emulated[=DIR]]... [--json] [--log FILE]

Programs the target MCU over SWD with the code image FILE (.bin), checks it by CRC and lets
it run. The target's type is the one it reports.

  --speed SPEED         SWD speed: high (default), middle or low
  --keep-power          leave the target powered when done (by default its supply is cut)

Refused while the programmer waits for a new application (update of the MCU code).
)";

const char *const kVerify = R"(Usage: zqprog verify FILE [--speed high|middle|low] [--keep-power]
                     [--device BOARD | --all] [--emulated[=DIR]]... [--json] [--log FILE]

Checks the target MCU's flash against the CRC and length of FILE and lets the target run.
Refused while the programmer waits for a new application (update of the MCU code).
)";

const char *const kUpdateApp =
    R"(Usage: zqprog update-app FILE [--device BOARD] [--emulated[=DIR]] [--json] [--log FILE]

Writes the firmware image FILE (.app) as the programmer's application. Only possible while
the programmer reports update of the MCU code (its boot loader runs). The programmer then
restarts; zqprog waits for it to come back and reports its new mode.
)";

const char *const kUpdateBoot = R"(Usage: zqprog update-boot FILE --allow-boot-update
                          [--device BOARD] [--emulated[=DIR]] [--json] [--log FILE]

Writes the boot image FILE (.boot) as the programmer's boot loader. A wrong or interrupted
boot update can leave the board unable to start, so it is refused unless
--allow-boot-update is given, and only possible while the programmer is in normal work.
The programmer then restarts; zqprog waits for it to come back and reports its new mode.
)";

} // namespace

QString helpText(Command command)
{
    switch (command) {
    case Command::List:
        return QString::fromUtf8(kList);
    case Command::Info:
        return QString::fromUtf8(kInfo);
    case Command::Download:
        return QString::fromUtf8(kDownload);
    case Command::Check:
        return QString::fromUtf8(kCheck);
    case Command::Program:
        return QString::fromUtf8(kProgram);
    case Command::Verify:
        return QString::fromUtf8(kVerify);
    case Command::UpdateApp:
        return QString::fromUtf8(kUpdateApp);
    case Command::UpdateBoot:
        return QString::fromUtf8(kUpdateBoot);
    case Command::None:
        break;
    }
    return QString::fromUtf8(kOverview);
}

} // namespace zq::cli
