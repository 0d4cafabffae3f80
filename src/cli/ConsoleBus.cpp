#include "cli/ConsoleBus.h"

#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "cli/EmulatedFaults.h"
#include "cli/ExitCode.h"
#include "cli/Options.h"
#include "emulator/StateFolder.h"
#include "usb/UsbTransport.h"

#include <QDir>

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

} // namespace

ConsoleBus::ConsoleBus(const Options &options) : stateFolder_(options.emulatedStateFolder)
{
    if (!options.emulated) {
        transport_ = platformTransport();
        return;
    }
    transport_ = usb::makeEmulatedTransport();
    QString error;
    if (!stateFolder_.isEmpty()) {
        bool busy = false;
        lock_ = emu::StateFolderLock::take(stateFolder_, &busy, &error);
        if (!lock_) {
            loadErrorExit_ = busy ? NoBoard : OperationFailed;
            loadError_ =
                busy ? QStringLiteral("cannot open the emulated programmer in ") + stateFolder_ +
                           QStringLiteral(": busy, in use by another program")
                     : QStringLiteral("cannot lock the emulated programmer's state: ") + error;
            return;
        }
    }
    board_ = emulatedBoard(stateFolder_, &error);
    if (!board_) {
        loadErrorExit_ = OperationFailed;
        loadError_ = QStringLiteral("cannot read the emulated programmer's state: ") + error;
        return;
    }
    if (!stateFolder_.isEmpty() &&
        !armFaultsFile(QDir(stateFolder_).filePath(QStringLiteral("faults.ini")), board_->faults(),
                       &error)) {
        loadErrorExit_ = OperationFailed;
        loadError_ = error;
        board_.reset();
        return;
    }
    emu::EmulatedBus::instance().plug(board_);
}

ConsoleBus::~ConsoleBus()
{
    if (board_)
        emu::EmulatedBus::instance().unplugAll();
}

bool ConsoleBus::saveState(QString *error) const
{
    if (!board_ || stateFolder_.isEmpty() || board_->saveState(stateFolder_))
        return true;
    *error = QStringLiteral("cannot keep the emulated programmer's state in ") + stateFolder_;
    return false;
}

} // namespace zq::cli
