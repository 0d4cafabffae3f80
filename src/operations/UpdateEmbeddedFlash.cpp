#include "operations/BlockWriter.h"
#include "frontend/FrontEnd.h"
#include "operations/ImageBlocks.h"
#include "operations/OperationLog.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbDevice.h"

#include <QThread>

namespace zq::ops
{

namespace
{

const QString kDisconnected = QStringLiteral("The programmer boot is disconnected!");
const QString kBlockFailure = QStringLiteral("UPDATE_FLASH NG, Addr : 0x");

// Blocks are addressed by their offset in the image.
int writeImage(Session &session, const QByteArray &image)
{
    const BlockWriter writer{[&session](const uint8_t *data, uint32_t offset, int32_t length) {
                                 return session.commands.CMD_UPDATE_FLASH(data, offset, length);
                             },
                             kBlockFailure,
                             kDisconnected,
                             -3,
                             -4,
                             -4,
                             -5};
    return writeBlocks(session, image, writer);
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

QString oversizedUpdateText(int32_t length)
{
    return QStringLiteral("The image is ") + QString::number(length) +
           QStringLiteral(" bytes; the programmer's own flash holds at most ") +
           QString::number(kProgrammerFlashSize) + QStringLiteral(" bytes");
}

bool refuseOversizedUpdate(FrontEnd &frontEnd, int32_t length)
{
    if (length <= kProgrammerFlashSize)
        return false;
    frontEnd.showCriticalMessage(oversizedUpdateText(length));
    return true;
}

int updateEmbeddedFlash(Session &session, const QByteArray &updateBuffer)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (updateBuffer.size() < 8) {
        frontEnd.showCriticalMessage(QStringLiteral("There aren't any datas to update!"));
        return -1;
    }
    if (refuseOversizedUpdate(frontEnd, updateBuffer.size()))
        return -2;
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
