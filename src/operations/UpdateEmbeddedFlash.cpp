#include "FrontEnd.h"
#include "ImageBlocks.h"
#include "OperationLog.h"
#include "Operations.h"
#include "Session.h"
#include "UsbDevice.h"

#include <QThread>

namespace zq::ops
{

namespace
{

const QString kDisconnected = QStringLiteral("The programmer boot is disconnected!");
const QString kBlockFailure = QStringLiteral("UPDATE_FLASH NG, Addr : 0x");

bool programmerGone(Session &session)
{
    if (session.usbDevice.isOpen())
        return false;
    session.frontEnd.appendLog(kDisconnected);
    return true;
}

bool sendBlock(Session &session, const std::vector<uint8_t> &block, uint32_t offset, int count)
{
    const int result = session.commands.CMD_UPDATE_FLASH(block.data(), offset, count);
    if (result != 0)
        session.frontEnd.appendLog(blockFailureLine(kBlockFailure, offset, result));
    return result == 0;
}

// Blocks are addressed by their offset in the image.
int writeImage(Session &session, const QByteArray &image)
{
    const ImageBlocks blocks(image);
    std::vector<uint8_t> staging;
    for (int k = 0; k < blocks.fullCount(); ++k) {
        blocks.stage(staging, k * kBlockSize, kBlockSize);
        if (!sendBlock(session, staging, uint32_t(k * kBlockSize), kBlockSize))
            return -3;
        session.frontEnd.setProgress(blocks.progressAfter(k + 1));
        session.frontEnd.processEvents();
        if (programmerGone(session))
            return -4;
    }
    if (blocks.rest() > 0) {
        const int offset = blocks.fullCount() * kBlockSize;
        blocks.stage(staging, offset, blocks.rest());
        if (!sendBlock(session, staging, uint32_t(offset), blocks.rest()))
            return -4;
    }
    session.frontEnd.setProgress(100);
    return programmerGone(session) ? -5 : 0;
}

// The programmer restarts into its other resident program: the boot loader hands over to the
// new application, the application goes back to the boot loader. Either way the update that
// was just done is not offered again on this connection.
void switchResidentProgram(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (session.state.connectionMode == 0) {
        session.commands.CMD_USB_BOOT(1);
        frontEnd.setButtonEnabled(FrontEnd::Button::UpdateAPP, false);
    } else {
        session.commands.CMD_USB_BOOT(0);
        session.state.bootUpdateEnabled = 0;
        frontEnd.setButtonEnabled(FrontEnd::Button::UpdateBoot, false);
    }
    // Gives the programmer time to leave before anything else is asked of it; the event loop
    // must not run meanwhile.
    QThread::msleep(60);
    frontEnd.setButtonEnabled(FrontEnd::Button::UpdateAPP, false);
}

} // namespace

int updateEmbeddedFlash(Session &session, const QByteArray &updateBuffer)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (updateBuffer.size() < 8) {
        frontEnd.showCriticalMessage(QStringLiteral("There aren't any datas to update!"));
        return -1;
    }
    frontEnd.clearLog();
    frontEnd.setProgress(0);
    logTimestamp(frontEnd);
    frontEnd.appendLog(QStringLiteral("Program flash.."));
    const int written = writeImage(session, updateBuffer);
    if (written != 0)
        return written;
    frontEnd.appendLog(QStringLiteral("Write EFlash end!"));
    logTimestamp(frontEnd);
    if (session.commands.CMD_CHECK_EFLASH(session.state.updateCrc, 0,
                                          uint32_t(updateBuffer.size())) != 0) {
        frontEnd.appendLog(QStringLiteral("Check EFlash NG!"));
        return -6;
    }
    frontEnd.appendLog(QStringLiteral("Check EFlash OK!"));
    logTimestamp(frontEnd);
    switchResidentProgram(session);
    return 0;
}

} // namespace zq::ops
