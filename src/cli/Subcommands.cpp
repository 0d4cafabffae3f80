#include "cli/Subcommands.h"

#include "cli/Boards.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/Output.h"
#include "common/Crc32.h"
#include "frontend/NumberText.h"
#include "operations/ImageFile.h"
#include "operations/Operations.h"
#include "operations/ProgrammerState.h"
#include "operations/Session.h"
#include "protocol/TargetIds.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace zq::cli
{

QString modeText(int connectionMode)
{
    return ops::connectionModeWords(protocol::ConnectionMode(connectionMode));
}

QString modeKey(int connectionMode)
{
    return ops::connectionModeKey(protocol::ConnectionMode(connectionMode));
}

QString openErrorReason(usb::OpenError error)
{
    return ops::openErrorWords(error);
}

namespace
{

const QString kName = QStringLiteral("Flash.ini");

QString configFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rule: a relative value is ignored.
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

} // namespace

QStringList flashIniPlaces()
{
    QStringList places{QDir::current().filePath(kName),
                       configFolder() + QStringLiteral("/zq-programmer/") + kName};
    const QString besideProgram =
        QDir::cleanPath(QCoreApplication::applicationDirPath() +
                        QStringLiteral("/../share/zq-programmer/") + kName);
    places << besideProgram;
    const QString installed = QStringLiteral(ZQ_INSTALLED_DATADIR "/zq-programmer/") + kName;
    if (QDir::cleanPath(installed) != besideProgram)
        places << installed;
    return places;
}

FlashIniChoice findFlashIni(const QString &option)
{
    FlashIniChoice choice;
    if (!option.isEmpty()) {
        choice.tried = QStringList{option};
        if (QFileInfo(option).isFile())
            choice.path = option;
        else
            choice.error = QStringLiteral("--flash-ini ") + option +
                           (QFileInfo::exists(option) ? QStringLiteral(": not a file")
                                                      : QStringLiteral(": does not exist"));
        return choice;
    }
    choice.tried = flashIniPlaces();
    for (const QString &place : choice.tried) {
        if (QFileInfo(place).isFile()) {
            choice.path = place;
            break;
        }
    }
    return choice;
}

namespace
{

bool isUpdate(Command command)
{
    return command == Command::UpdateApp || command == Command::UpdateBoot;
}

// The window's dialogs show only .app files to the firmware update and only .boot files to
// the boot update.
QString wrongKindOfFile(Command command, const QString &file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (command == Command::UpdateApp && suffix == QLatin1String("boot"))
        return QStringLiteral("update-app writes the programmer's application, and ") + file +
               QStringLiteral(" is named as a boot loader image (.boot); use update-boot");
    if (command == Command::UpdateBoot && suffix == QLatin1String("app"))
        return QStringLiteral("update-boot writes the programmer's boot loader, and ") + file +
               QStringLiteral(" is named as an application image (.app); use update-app");
    return QString();
}

QString sizeProblem(Command command, const QString &file, int32_t length)
{
    if (length < ops::kShortestImage)
        return file + QStringLiteral(" holds ") + QString::number(length) +
               QStringLiteral(" bytes; an image needs at least ") +
               QString::number(ops::kShortestImage);
    if (isUpdate(command) && length > ops::kProgrammerFlashSize)
        return file + QStringLiteral(": ") + ops::oversizedUpdateText(length);
    return QString();
}

} // namespace

FileCheck checkFile(const Options &options)
{
    FileCheck check;
    if (!takesFile(options.command))
        return check;
    const QString &file = options.file;
    check.error = wrongKindOfFile(options.command, file);
    if (!check.error.isEmpty())
        return check;
    const ops::LoadedImage image =
        isUpdate(options.command) ? ops::loadRawImage(file) : ops::loadCodeImage(file);
    if (image.status != ops::LoadedImage::Status::Ready) {
        check.error = ops::imageRefusal(file, image);
        return check;
    }
    check.error = sizeProblem(options.command, file, image.bytes.size());
    // The CRC the operation sends and the programmer's "Check CRC:" lines show.
    const uint32_t crc = crc32(reinterpret_cast<const uint8_t *>(image.bytes.constData()),
                               size_t(image.bytes.size()));
    check.description =
        ops::imageDescription(file, image) + QStringLiteral(", CRC ") + toHexText(crc, 8);
    check.image = ImageIdentity{file, ops::imageFormatName(image.format), crc,
                                int32_t(image.bytes.size()), image.base};
    check.loaded = image;
    return check;
}

namespace
{

QString reportsMode(const ops::ProgrammerState &state)
{
    return QStringLiteral("; it reports ") + modeText(int(state.connectionMode));
}

QString notInModeFor(Command command, const QString &needed, const ops::ProgrammerState &state)
{
    return commandName(command) + QStringLiteral(" needs the programmer in ") + needed +
           reportsMode(state);
}

QString unknownFlash(Command command, const ops::ProgrammerState &state)
{
    const QString catalogue = state.flashCatalogPath;
    const QString where = QFileInfo::exists(catalogue)
                              ? QStringLiteral(" is not listed in ") + catalogue
                              : QStringLiteral(": no Flash.ini was found (see zqprog --help)");
    return commandName(command) +
           QStringLiteral(" needs a programmer flash known from Flash.ini; ") +
           QStringLiteral("flash id ") + toHexText(state.flashId, 6) + where;
}

// Program and Verify, and the flash buttons when the flash is known.
QString operationButtonRule(Command command, const ops::ProgrammerState &state,
                            const ConsoleFrontEnd &buttons)
{
    if (!buttons.operationButtonsEnabled())
        return notInModeFor(command, QStringLiteral("normal work"), state) +
               QStringLiteral(" (its boot loader waits for an application: run update-app)");
    const bool flashButton = command == Command::Download || command == Command::Check;
    if (flashButton && state.flashKnown == 0)
        return unknownFlash(command, state);
    return QString();
}

} // namespace

QString refusalBeforeOpening(const Options &options)
{
    if (options.command != Command::UpdateBoot || options.allowBootUpdate)
        return QString();
    return QStringLiteral("update-boot replaces the programmer's boot loader, and a wrong or "
                          "interrupted one leaves it unable to start; it is refused unless "
                          "--allow-boot-update is given");
}

QString refusalAfterConnect(Command command, const ops::ProgrammerState &state,
                            const ConsoleFrontEnd &buttons)
{
    switch (command) {
    case Command::Download:
    case Command::Check:
    case Command::Program:
    case Command::Verify:
        return operationButtonRule(command, state, buttons);
    case Command::UpdateApp:
        return buttons.updateAppEnabled()
                   ? QString()
                   : notInModeFor(command, QStringLiteral("update of the MCU code"), state);
    case Command::UpdateBoot:
        return buttons.updateBootEnabled()
                   ? QString()
                   : notInModeFor(command, QStringLiteral("normal work"), state);
    case Command::None:
    case Command::List:
    case Command::Info:
        break;
    }
    return QString();
}

namespace
{

void addField(CommandResult &result, const QString &label, const QString &key,
              const QJsonValue &value, const QString &text)
{
    result.summary.append((label + QLatin1Char(':')).leftJustified(14) + text);
    result.details.insert(key, value);
}

void addField(CommandResult &result, const QString &label, const QString &key, const QString &text)
{
    addField(result, label, key, text, text);
}

} // namespace

void reportIdentity(const QString &path, const ops::ProgrammerState &state, CommandResult &result)
{
    addField(result, QStringLiteral("Device"), QStringLiteral("device"), path);
    addField(result, QStringLiteral("Mode"), QStringLiteral("mode"),
             modeKey(int(state.connectionMode)), modeText(int(state.connectionMode)));
    addField(result, QStringLiteral("Boot version"), QStringLiteral("bootVersion"),
             qint64(state.bootVersion), toHexText(state.bootVersion, 8));
    addField(result, QStringLiteral("App version"), QStringLiteral("appVersion"),
             qint64(state.appVersion), toHexText(state.appVersion, 8));
    addField(result, QStringLiteral("Board MCU"), QStringLiteral("boardMcu"),
             qint64(state.boardMcu), toHexText(state.boardMcu, 8));
    addField(result, QStringLiteral("Board ID"), QStringLiteral("boardId"), qint64(state.boardId),
             toHexText(state.boardId, 8));
    addField(result, QStringLiteral("Flash ID"), QStringLiteral("flashId"), qint64(state.flashId),
             toHexText(state.flashId, 6));
    addField(result, QStringLiteral("Flash size"), QStringLiteral("flashSize"), state.flashSize,
             QString::number(state.flashSize));
    addField(result, QStringLiteral("Flash name"), QStringLiteral("flashName"), state.flashName);
    result.details.insert(QStringLiteral("flashKnown"), state.flashKnown != 0);
    const QString catalogue = state.flashCatalogPath;
    result.summary.append(
        QStringLiteral("Flash.ini:").leftJustified(14) +
        (QFileInfo(catalogue).isFile() ? catalogue : QStringLiteral("none found")));
}

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
    const int mode = int(console.session().state.connectionMode);
    output.note(QStringLiteral("the programmer is back at ") + path + QStringLiteral(", in ") +
                modeText(mode));
    result.details.insert(QStringLiteral("device"), path);
    result.details.insert(QStringLiteral("mode"), modeKey(mode));
    return result;
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
    // The target the board found, else the one the user named (a download's).
    const uint32_t found = session.commands.lastTargetId();
    const int mcuType =
        found != protocol::kNoTargetId ? protocol::indexForTargetId(found) : buttons.mcuTypeIndex();
    if (!isUpdate(command) && mcuType >= 1 && mcuType < protocol::kMcuTypeCount)
        result.targetId = protocol::targetIdForIndex(mcuType);
    if (*result.code != 0)
        return failed(result, OperationFailed,
                      commandName(command) + QStringLiteral(" failed, result code ") +
                          QString::number(*result.code));
    // The window ends this with "Program target is OK!!!!!!"; a line must not take the unit.
    if (command == Command::Program && session.commands.lastRunFailed())
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
    // The file was read once, above; what the operation sends is what was checked and reported.
    if (takesFile(options.command))
        console.session().pinnedImage = ops::PinnedImage{options.file, file.loaded};
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
