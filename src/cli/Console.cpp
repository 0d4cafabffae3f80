#include "cli/Console.h"

#include "cli/CommandLine.h"
#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "emulator/Faults.h"
#include "emulator/StateFolder.h"
#include "usb/UsbTransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <csignal>
#include <vector>

#if defined(__linux__)
#include <sys/prctl.h>
#include <unistd.h>
#endif

namespace zq::cli
{

namespace
{

constexpr int kSignalsBeforeDefault = 3;

std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free, "counted from a signal handler");

extern "C" void countSignal(int number)
{
    if (received.fetch_add(1) + 1 >= kSignalsBeforeDefault) {
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    std::signal(number, countSignal); // where a handler is reset when it runs
}

std::atomic<qint64> gangParent{0}; // 0: not one of a gang's

// The parent's end sends SIGTERM. Had it ended before that was asked for, no signal would come:
// this process has another parent already, and that counts as the signal.
void followGangParent()
{
    bool ok = false;
    const qint64 parent = qEnvironmentVariable(kGangParentVariable).toLongLong(&ok);
    qunsetenv(kGangParentVariable);
    if (!ok || parent <= 0)
        return;
    gangParent = parent;
#if defined(__linux__)
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (gangParentGone())
        received.fetch_add(1);
#endif
}

} // namespace

void installInterruptHandlers()
{
    std::signal(SIGINT, countSignal);
    std::signal(SIGTERM, countSignal);
    followGangParent();
}

int interruptCount()
{
    return received.load();
}

void ignoreBrokenPipes()
{
#if !defined(_WIN32)
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool gangParentGone()
{
#if defined(__linux__)
    return gangParent != 0 && qint64(::getppid()) != gangParent;
#else
    return false;
#endif
}

ConsoleFrontEnd::ConsoleFrontEnd(Output &output, const Options &options)
    : output_(output), file_(options.file), mcuTypeIndex_(options.mcuTypeIndex),
      swdSpeedIndex_(options.swdSpeedIndex), powerOff_(!options.keepPower),
      programNumber_(options.programNumber), showProgress_(!options.noProgress),
      phase_(Stage::Write), signalsAllowed_(rowOf(options.subcommand).signalsLetThrough)
{
}

void ConsoleFrontEnd::appendLog(const QString &line)
{
    output_.log(line);
}

void ConsoleFrontEnd::beginStage(Stage stage)
{
    phase_ = stage;
    if (!clock_.isValid())
        clock_.start();
    stageStarts_.append({stage, clock_.elapsed()});
}

ConsoleFrontEnd::StageTimes ConsoleFrontEnd::stageTimes() const
{
    StageTimes times;
    for (int i = 0; i < stageStarts_.size(); ++i) {
        const qint64 end =
            i + 1 < stageStarts_.size() ? stageStarts_.at(i + 1).second : clock_.elapsed();
        const qint64 took = end - stageStarts_.at(i).second;
        switch (stageStarts_.at(i).first) {
        case Stage::Init:
            times.initMs = times.initMs.value_or(0) + took;
            break;
        case Stage::Write:
        case Stage::Message: // a download's message block is written after the check
            times.writeMs = times.writeMs.value_or(0) + took;
            break;
        case Stage::Check:
            times.checkMs = times.checkMs.value_or(0) + took;
            break;
        }
    }
    return times;
}

// A stream cannot take back what it printed; the lines before a clear simply stay above.
void ConsoleFrontEnd::clearLog() {}

void ConsoleFrontEnd::setProgress(int percent)
{
    if (showProgress_)
        output_.progress(percent, phase_);
}

void ConsoleFrontEnd::showCriticalMessage(const QString &text)
{
    output_.message(QStringLiteral("Message"), text);
}

void ConsoleFrontEnd::showErrorMessage(const QString &text)
{
    output_.message(QStringLiteral("Error"), text);
}

void ConsoleFrontEnd::setOperationButtonsEnabled(bool enable)
{
    operationButtons_ = enable;
}

void ConsoleFrontEnd::setButtonEnabled(Button button, bool enable)
{
    (button == Button::UpdateAPP ? updateApp_ : updateBoot_) = enable;
}

// The FILE argument is the user's choice; there is nothing to ask.
QString ConsoleFrontEnd::chooseOpenFile(const QString &, const QString &, const QString &)
{
    return file_;
}

void ConsoleFrontEnd::processEvents()
{
    QCoreApplication::processEvents();
    const int received = interruptCount();
    if (received > signalsWarned_ && received <= signalsAllowed_) {
        signalsWarned_ = received;
        output_.note(QStringLiteral("the boot update goes on: a boot loader left half written "
                                    "leaves the programmer unable to start. Press Ctrl-C again "
                                    "to stop it anyway."));
    }
}

bool ConsoleFrontEnd::stopRequested() const
{
    return interruptCount() > signalsAllowed_;
}

namespace
{

// Without a folder: a board in normal work with the emulator's identity, whose flash the
// sample catalogue lists, so that every subcommand but update-app can be tried at once.
std::shared_ptr<emu::Board> emulatedBoard(const QString &stateFolder, QString *error)
{
    if (stateFolder.isEmpty())
        return std::make_shared<emu::Board>();
    return emu::Board::fromStateFolder(stateFolder, error);
}

// The index-th board of a run gets an id of its own, unless its folder says which it has; the
// folder keeps it from now on.
void giveOwnId(emu::Board &board, const QString &folder, int index)
{
    if (index == 0 || (!folder.isEmpty() && QFileInfo(QDir(folder).filePath("board.ini")).exists()))
        return;
    emu::BoardIdentity identity = board.identity();
    identity.boardId += uint32_t(index);
    board.setIdentity(identity);
    if (!folder.isEmpty())
        board.saveState(folder);
}

} // namespace

ConsoleBus::ConsoleBus(const Options &options)
{
    if (!options.emulated) {
        transport_ = usb::makePlatformTransport();
        return;
    }
    transport_ = usb::makeEmulatedTransport();
    const QStringList folders = options.emulatedStateFolders.isEmpty()
                                    ? QStringList{QString()}
                                    : options.emulatedStateFolders;
    for (int i = 0; i < folders.size(); ++i) {
        if (!plugEmulated(folders.at(i), i)) {
            emu::EmulatedBus::instance().unplugAll();
            boards_.clear();
            return;
        }
    }
}

bool ConsoleBus::plugEmulated(const QString &folder, int index)
{
    EmulatedBoard slot{folder, nullptr, nullptr};
    QString error;
    if (!folder.isEmpty()) {
        bool busy = false;
        slot.lock = emu::StateFolderLock::take(folder, &busy, &error);
        if (!slot.lock) {
            loadErrorExit_ = busy ? NoBoard : OperationFailed;
            loadError_ =
                busy ? QStringLiteral("cannot open the emulated programmer in ") + folder +
                           QStringLiteral(": busy, in use by another program")
                     : QStringLiteral("cannot lock the emulated programmer's state: ") + error;
            return false;
        }
    }
    slot.board = emulatedBoard(folder, &error);
    if (!slot.board) {
        loadErrorExit_ = OperationFailed;
        loadError_ = QStringLiteral("cannot read the emulated programmer's state: ") + error;
        return false;
    }
    if (!folder.isEmpty() &&
        !emu::armFaultsFile(QDir(folder).filePath(QStringLiteral("faults.ini")),
                            slot.board->faults(), &error)) {
        loadErrorExit_ = OperationFailed;
        loadError_ = error;
        return false;
    }
    giveOwnId(*slot.board, folder, index);
    emu::EmulatedBus::instance().plug(slot.board);
    boards_.push_back(std::move(slot));
    return true;
}

ConsoleBus::~ConsoleBus()
{
    if (!boards_.empty())
        emu::EmulatedBus::instance().unplugAll();
}

bool ConsoleBus::saveState(QString *error) const
{
    QStringList failed;
    for (const EmulatedBoard &slot : boards_)
        if (!slot.folder.isEmpty() && !slot.board->saveState(slot.folder))
            failed << slot.folder;
    if (failed.isEmpty())
        return true;
    *error = QStringLiteral("cannot keep the emulated programmer's state in ") +
             failed.join(QStringLiteral(", "));
    return false;
}

void ConsoleBus::giveFreshBoardsIds(const QStringList &folders)
{
    for (int i = 1; i < folders.size(); ++i) {
        const QString &folder = folders.at(i);
        bool busy = false;
        QString error;
        if (folder.isEmpty() || QFileInfo(QDir(folder).filePath("board.ini")).exists())
            continue;
        const std::unique_ptr<emu::StateFolderLock> lock =
            emu::StateFolderLock::take(folder, &busy, &error);
        const std::shared_ptr<emu::Board> board = lock ? emulatedBoard(folder, &error) : nullptr;
        if (board)
            giveOwnId(*board, folder, i);
    }
}

} // namespace zq::cli
