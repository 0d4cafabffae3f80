#include "cli/Subcommands.h"

#include "cli/Boards.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/JobCommand.h"
#include "cli/Output.h"
#include "common/Crc32.h"
#include "frontend/NumberText.h"
#include "operations/ImageFile.h"
#include "operations/Operations.h"
#include "operations/ProgrammerState.h"
#include "operations/Session.h"
#include "protocol/CommandSet.h"
#include "protocol/TargetIds.h"
#include "records/Job.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace zq::cli
{

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

// The window's dialogs show only .app files to the firmware update and only .boot files to
// the boot update.
QString wrongKindOfFile(const SubcommandRow &row, const QString &file)
{
    const SubcommandRow *named = updateForSuffix(QFileInfo(file).suffix());
    if (!row.updatesProgrammer() || !named || named == &row)
        return QString();
    return row.nameText() + QStringLiteral(" writes ") + QString::fromUtf8(row.file.replaces) +
           QStringLiteral(", and ") + file + QStringLiteral(" is named as ") +
           QString::fromUtf8(named->file.imageName) + QStringLiteral(" (.") +
           QString::fromUtf8(named->file.suffix) + QStringLiteral("); use ") + named->nameText();
}

QString sizeProblem(const SubcommandRow &row, const QString &file, int32_t length)
{
    if (length < ops::kShortestImage)
        return file + QStringLiteral(" holds ") + QString::number(length) +
               QStringLiteral(" bytes; an image needs at least ") +
               QString::number(ops::kShortestImage);
    if (row.updatesProgrammer() && length > ops::kProgrammerFlashSize)
        return file + QStringLiteral(": ") + ops::oversizedUpdateText(length);
    return QString();
}

} // namespace

FileCheck checkFile(const Options &options)
{
    FileCheck check;
    const SubcommandRow &row = rowOf(options.subcommand);
    if (!row.takesFile())
        return check;
    const QString &file = options.file;
    check.error = wrongKindOfFile(row, file);
    if (!check.error.isEmpty())
        return check;
    const ops::LoadedImage image =
        row.updatesProgrammer() ? ops::loadRawImage(file) : ops::loadCodeImage(file);
    if (image.status != ops::LoadedImage::Status::Ready) {
        check.error = ops::imageRefusal(file, image);
        return check;
    }
    check.error = sizeProblem(row, file, image.bytes.size());
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

// The window lets the user start an operation only through a button it has enabled; zqprog
// refuses what that button would not have allowed, and says why. Empty when allowed.
namespace
{

// Which mode the window enables a button in, and what a refusal adds to the mode it needs.
struct ButtonRule {
    WindowButton button;
    bool (ConsoleFrontEnd::*enabled)() const;
    protocol::ConnectionMode mode;
    const char *hint;
};

const ButtonRule kButtonRules[] = {
    {WindowButton::Operations, &ConsoleFrontEnd::operationButtonsEnabled,
     protocol::ConnectionMode::NormalWork,
     " (its boot loader waits for an application: run update-app)"},
    {WindowButton::UpdateApp, &ConsoleFrontEnd::updateAppEnabled,
     protocol::ConnectionMode::UpdateMcuCode, ""},
    {WindowButton::UpdateBoot, &ConsoleFrontEnd::updateBootEnabled,
     protocol::ConnectionMode::NormalWork, ""},
};

QString buttonRefusal(const SubcommandRow &row, const ops::ProgrammerState &state,
                      const ConsoleFrontEnd &buttons)
{
    for (const ButtonRule &rule : kButtonRules) {
        if (rule.button == row.needs.button && !(buttons.*rule.enabled)())
            return row.nameText() + QStringLiteral(" needs the programmer in ") +
                   ops::connectionModeWords(rule.mode) + QStringLiteral("; it reports ") +
                   ops::connectionModeWords(state.connectionMode) + QString::fromLatin1(rule.hint);
    }
    return QString();
}

QString unknownFlash(const SubcommandRow &row, const ops::ProgrammerState &state)
{
    const QString catalogue = state.flashCatalogPath;
    const QString where = QFileInfo::exists(catalogue)
                              ? QStringLiteral(" is not listed in ") + catalogue
                              : QStringLiteral(": no Flash.ini was found (see zqprog --help)");
    return row.nameText() + QStringLiteral(" needs a programmer flash known from Flash.ini; ") +
           QStringLiteral("flash id ") + toHexText(state.flashId, 6) + where;
}

// What needs no programmer to judge: the boot update is never started unasked.
QString refusalBeforeOpening(const Options &options)
{
    const SubcommandRow &row = rowOf(options.subcommand);
    if (!row.needs.bootUpdateAllowed || options.allowBootUpdate)
        return QString();
    return row.nameText() + QStringLiteral(" replaces ") + QString::fromUtf8(row.file.replaces) +
           QStringLiteral(", and a wrong or interrupted one leaves it unable to start; it is "
                          "refused unless --allow-boot-update is given");
}

// After a successful connect, from the buttons the connect left enabled.
QString refusalAfterConnect(const SubcommandRow &row, const ops::ProgrammerState &state,
                            const ConsoleFrontEnd &buttons)
{
    const QString refusal = buttonRefusal(row, state, buttons);
    if (refusal.isEmpty() && row.needs.flashKnown && !state.flashKnown)
        return unknownFlash(row, state);
    return refusal;
}

void addField(SubcommandResult &result, const QString &label, const QString &key,
              const QJsonValue &value, const QString &text)
{
    addSummaryField(result, 14, label, key, value, text);
}

void addField(SubcommandResult &result, const QString &label, const QString &key,
              const QString &text)
{
    addField(result, label, key, text, text);
}

} // namespace

void reportIdentity(const QString &path, const ops::ProgrammerState &state,
                    SubcommandResult &result)
{
    addField(result, QStringLiteral("Device"), QStringLiteral("device"), path);
    addField(result, QStringLiteral("Mode"), QStringLiteral("mode"),
             ops::connectionModeKey(state.connectionMode),
             ops::connectionModeWords(state.connectionMode));
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

SubcommandResult failed(SubcommandResult result, int exitCode, const QString &error)
{
    result.exitCode = exitCode;
    result.error = error;
    return result;
}

// Open and identify, as "Open programmer" does; its lines and boxes have been shown.
SubcommandResult openFailed(SubcommandResult result, const ops::ProgrammerLink &console,
                            const QString &path, int code)
{
    result.code = code;
    if (code == ops::kProgrammerNotOpen)
        return failed(result, NoBoard,
                      QStringLiteral("cannot open ") + path + QStringLiteral(": ") +
                          ops::openErrorWords(console.device().lastOpenError()));
    return failed(result, NoBoard,
                  QStringLiteral("the programmer at ") + path +
                      QStringLiteral(" does not identify itself (connect result ") +
                      QString::number(code) + QLatin1Char(')'));
}

// The update has made the programmer restart into its other program; it is opened again so
// that the user learns what it runs now.
SubcommandResult followRestart(SubcommandResult result, ops::ProgrammerLink &console,
                               Output &output, const QString &oldPath, const QStringList &before,
                               const LeavingWatch &leaving)
{
    output.note(QStringLiteral("the programmer restarts; waiting for it to come back"));
    ops::stopProgrammer(console.session());
    const QString path = waitForReturn(
        console.sharedTransport(), oldPath, before, leaving, result.boardId, kReturnTimeoutMs,
        [&console] { return console.session().frontEnd.stopRequested(); });
    if (path.isEmpty())
        return failed(result, NoBoard,
                      QStringLiteral("the programmer did not come back within ") +
                          QString::number(kReturnTimeoutMs / 1000) + QStringLiteral(" s"));
    const int opened = ops::openProgrammer(console.session(), path);
    if (opened != 0)
        return openFailed(result, console, path, opened);
    const protocol::ConnectionMode mode = console.session().state.connectionMode;
    output.note(QStringLiteral("the programmer is back at ") + path + QStringLiteral(", in ") +
                ops::connectionModeWords(mode));
    result.details.insert(QStringLiteral("device"), path);
    result.details.insert(QStringLiteral("mode"), ops::connectionModeKey(mode));
    return result;
}

// What the record of the unit needs to know of how the operation went.
void keepFacts(SubcommandResult &result, const ops::Session &session,
               const ConsoleFrontEnd &frontEnd, bool boardLeft)
{
    result.facts.boardLeft = boardLeft;
    result.facts.targetRunFailed = session.commands.lastRunFailed();
    result.facts.lastExchange = session.commands.lastExchangeResult();
    const ConsoleFrontEnd::StageTimes times = frontEnd.stageTimes();
    result.facts.initMs = times.initMs;
    result.facts.writeMs = times.writeMs;
    result.facts.checkMs = times.checkMs;
}

SubcommandResult operate(SubcommandResult result, ops::ProgrammerLink &console,
                         const ConsoleFrontEnd &buttons, Output &output, const SubcommandRow &row,
                         const BeforeOperation &beforeOperation)
{
    ops::Session &session = console.session();
    const QString refusal = refusalAfterConnect(row, session.state, buttons);
    if (!refusal.isEmpty())
        return failed(result, OperationFailed, refusal);
    if (beforeOperation && session.pinnedImage &&
        !beforeOperation(result, session.pinnedImage->image))
        return result;
    const QString path = console.device().devicePath();
    const QStringList before = console.transport().findProgrammers();
    const LeavingWatch leaving(console);
    result.code = row.operation(session);
    keepFacts(result, session, buttons, leaving.left(path));
    // The target the board found, else the one the user named (a download's).
    const uint32_t found = session.commands.lastTargetId();
    const int mcuType = found != protocol::kNoTargetId ? protocol::indexForTargetId(found)
                                                       : buttons.choices().mcuTypeIndex;
    if (!row.updatesProgrammer() && mcuType >= 1 && mcuType < protocol::kMcuTypeCount)
        result.targetId = protocol::targetIdForIndex(mcuType);
    if (*result.code != 0)
        return failed(result, OperationFailed,
                      row.nameText() + QStringLiteral(" failed, result code ") +
                          QString::number(*result.code));
    // The window ends this with "Program target is OK!!!!!!"; a line must not take the unit.
    if (row.targetRun == TargetRun::MustStart && session.commands.lastRunFailed())
        return failed(result, OperationFailed,
                      QStringLiteral("the image is written and checked, but the target did not "
                                     "run (its run step failed)"));
    return row.updatesProgrammer() ? followRestart(result, console, output, path, before, leaving)
                                   : result;
}

} // namespace

SubcommandResult runOnProgrammer(const Options &options, Output &output,
                                 const std::shared_ptr<usb::UsbTransport> &transport,
                                 const BeforeOperation &before)
{
    SubcommandResult result;
    const SubcommandRow &row = rowOf(options.subcommand);
    result.subcommand = row.nameText();
    if (options.job)
        result.jobHash = options.job->hash();
    const QString refusal = refusalBeforeOpening(options);
    if (!refusal.isEmpty())
        return failed(result, OperationFailed, refusal);
    const FileCheck file = checkFile(options);
    if (!file.error.isEmpty())
        return failed(result, OperationFailed, file.error);
    if (options.job) {
        const QString mismatch = jobImageMismatch(*options.job, file.loaded);
        if (!mismatch.isEmpty())
            return failed(result, OperationFailed,
                          options.jobFile + QStringLiteral(": ") + mismatch);
    }
    result.image = file.image;
    if (row.takesFile())
        result.imageSha256 = records::sha256Hex(file.loaded.bytes);
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
    ops::ProgrammerLink console(transport, frontEnd);
    // The file was read once, above; what the operation sends is what was checked and reported.
    if (row.takesFile())
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
    if (row.operation)
        return operate(result, console, frontEnd, output, row, before);
    result.code = 0;
    reportIdentity(choice.path, console.session().state, result);
    return result;
}

} // namespace zq::cli
