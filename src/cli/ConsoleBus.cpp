#include "cli/ConsoleBus.h"

#include "cli/EmulatedFaults.h"
#include "cli/ExitCode.h"
#include "cli/Options.h"
#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "emulator/StateFolder.h"
#include "usb/UsbTransport.h"

#include <QDir>
#include <QFileInfo>

namespace zq::cli
{

namespace
{

std::shared_ptr<usb::UsbTransport> platformTransport()
{
#if defined(ZQ_HAVE_LIBUSB)
    return usb::makeLibusbTransport();
#elif defined(_WIN32)
    return usb::makeWinUsbTransport();
#else
#error "This platform has no USB transport for zqprog yet"
#endif
}

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
        transport_ = platformTransport();
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
    if (!folder.isEmpty() && !armFaultsFile(QDir(folder).filePath(QStringLiteral("faults.ini")),
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
