#include "cli/Commands.h"

#include "cli/Boards.h"
#include "cli/ConsoleFrontEnd.h"
#include "cli/ConsoleSession.h"
#include "cli/ExitCode.h"
#include "cli/FileCheck.h"
#include "cli/FlashIniSearch.h"
#include "cli/Interruption.h"
#include "cli/OpenErrorText.h"
#include "cli/OperationRules.h"
#include "cli/Options.h"
#include "cli/ProgrammerMode.h"
#include "cli/ProgrammerReport.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "protocol/TargetIds.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

namespace zq::cli
{

namespace
{

// A board that restarts is back within a few seconds; one that is not back by then will not be.
constexpr int kReturnTimeoutMs = 15000;

CommandResult failed(CommandResult result, int exitCode, const QString &error)
{
    result.exitCode = exitCode;
    result.error = error;
    return result;
}

int runOperation(Command command, ops::Session &session)
{
    switch (command) {
    case Command::Download:
        return ops::downloadToProgrammer(session);
    case Command::Check:
        return ops::checkSpiFlash(session);
    case Command::Program:
        return ops::programTargetOperation(session);
    case Command::Verify:
        return ops::verifyTarget(session);
    case Command::UpdateApp:
        return ops::updateFirmware(session);
    case Command::UpdateBoot:
        return ops::updateBoot(session);
    case Command::None:
    case Command::List:
    case Command::Info:
        break;
    }
    return 0;
}

// Open and identify, as "Open programmer" does; its lines and boxes have been shown.
CommandResult openFailed(CommandResult result, const ConsoleSession &console, const QString &path,
                         int code)
{
    result.code = code;
    if (code == ops::kProgrammerNotOpen)
        return failed(result, NoBoard,
                      QStringLiteral("cannot open ") + path + QStringLiteral(": ") +
                          openErrorReason(console.device().lastOpenError()));
    return failed(result, NoBoard,
                  QStringLiteral("the programmer at ") + path +
                      QStringLiteral(" does not identify itself (connect result ") +
                      QString::number(code) + QLatin1Char(')'));
}

// The update has made the programmer restart into its other program; it is opened again so
// that the user learns what it runs now.
CommandResult followRestart(CommandResult result, ConsoleSession &console, Output &output,
                            const QString &oldPath, const QStringList &before)
{
    output.note(QStringLiteral("the programmer restarts; waiting for it to come back"));
    ops::stopProgrammer(console.session());
    const QString path =
        waitForReturn(console.sharedTransport(), oldPath, before, result.boardId, kReturnTimeoutMs,
                      [&console] { return console.session().frontEnd.stopRequested(); });
    if (path.isEmpty())
        return failed(result, NoBoard,
                      QStringLiteral("the programmer did not come back within ") +
                          QString::number(kReturnTimeoutMs / 1000) + QStringLiteral(" s"));
    const int opened = ops::openProgrammer(console.session(), path);
    if (opened != 0)
        return openFailed(result, console, path, opened);
    const int mode = console.session().state.connectionMode;
    output.note(QStringLiteral("the programmer is back at ") + path + QStringLiteral(", in ") +
                modeText(mode));
    result.details.insert(QStringLiteral("device"), path);
    result.details.insert(QStringLiteral("mode"), modeKey(mode));
    return result;
}

bool isUpdate(Command command)
{
    return command == Command::UpdateApp || command == Command::UpdateBoot;
}

CommandResult operate(CommandResult result, ConsoleSession &console, const ConsoleFrontEnd &buttons,
                      Output &output, Command command)
{
    ops::Session &session = console.session();
    const QString refusal = refusalAfterConnect(command, session.state, buttons);
    if (!refusal.isEmpty())
        return failed(result, OperationFailed, refusal);
    const QString path = console.device().devicePath();
    const QStringList before = console.transport().findProgrammers();
    result.code = runOperation(command, session);
    const int mcuType = buttons.mcuTypeIndex();
    if (!isUpdate(command) && mcuType >= 1 && mcuType < protocol::kMcuTypeCount)
        result.targetId = protocol::targetIdForIndex(mcuType);
    if (*result.code != 0)
        return failed(result, OperationFailed,
                      commandName(command) + QStringLiteral(" failed, result code ") +
                          QString::number(*result.code));
    // The window ends this with "Program target is OK!!!!!!"; a line must not take the unit.
    if (command == Command::Program && buttons.targetRunFailed())
        return failed(result, OperationFailed,
                      QStringLiteral("the image is written and checked, but the target did not "
                                     "run (\"Target run fail...\")"));
    return isUpdate(command) ? followRestart(result, console, output, path, before) : result;
}

} // namespace

CommandResult runOnProgrammer(const Options &options, Output &output,
                              const std::shared_ptr<usb::UsbTransport> &transport)
{
    CommandResult result;
    result.command = commandName(options.command);
    const QString refusal = refusalBeforeOpening(options);
    if (!refusal.isEmpty())
        return failed(result, OperationFailed, refusal);
    const FileCheck file = checkFile(options);
    if (!file.error.isEmpty())
        return failed(result, OperationFailed, file.error);
    result.image = file.image;
    if (!file.description.isEmpty())
        output.note(file.description);
    const FlashIniChoice catalogue = findFlashIni(options.flashIni);
    if (!catalogue.error.isEmpty())
        return failed(result, OperationFailed, catalogue.error);
    result.flashIni = catalogue.path;
    const bool needIds = choosingNeedsIds(options.device);
    BoardChoice choice = chooseBoard(findBoards(transport, needIds), options.device);
    // The same choice, but the boards it lists are named by their ids too.
    if (!choice.error.isEmpty() && !needIds)
        choice = chooseBoard(findBoards(transport, true), options.device);
    if (!choice.error.isEmpty())
        return failed(result, choice.exitCode, choice.error);
    result.device = choice.path;
    ConsoleFrontEnd frontEnd(output, options);
    ConsoleSession console(transport, frontEnd);
    ops::ProgrammerState &state = console.session().state;
    // The command-line twin of config.ini's UPBOOT switch.
    state.bootUpdateEnabled = options.allowBootUpdate ? 1 : 0;
    // None found: the window's place, which then matches nothing, as a missing catalogue does.
    state.flashCatalogPath = catalogue.path.isEmpty() ? catalogue.tried.value(0) : catalogue.path;
    const int opened = ops::openProgrammer(console.session(), choice.path);
    if (opened != 0)
        return openFailed(result, console, choice.path, opened);
    result.boardId = state.boardId;
    output.identified(result);
    if (options.command != Command::Info)
        return operate(result, console, frontEnd, output, options.command);
    result.code = 0;
    reportIdentity(choice.path, console.session().state, result);
    return result;
}

} // namespace zq::cli
