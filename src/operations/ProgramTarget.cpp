#include "operations/BlockWriter.h"
#include "operations/CodeImage.h"
#include "frontend/FrontEnd.h"
#include "operations/ImageBlocks.h"
#include "frontend/NumberText.h"
#include "operations/OperationLog.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "protocol/TargetIds.h"
#include "usb/UsbDevice.h"

namespace zq::ops
{

namespace
{

const QString kDisconnected = QStringLiteral("The programmer is disconnected!");
const QString kBlockFailure = QStringLiteral("NG, Addr : 0x");

// Addresses are offsets in the image: the programmer places them in the target's flash.
int writeImage(Session &session, const QByteArray &image)
{
    const BlockWriter writer{[&session](const uint8_t *data, uint32_t address, int32_t length) {
                                 return session.commands.CMD_SWD_WRITE(data, address, length);
                             },
                             kBlockFailure,
                             kDisconnected,
                             -3,
                             -4,
                             -5,
                             -6};
    return writeBlocks(session, image, writer);
}

// 0, 10 the init failed, -10 the target is of no known type.
int connectTarget(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    const int init = session.commands.CMD_SWD_INIT(0);
    if (init != 0) {
        frontEnd.appendLog(QStringLiteral("Init fail...") + toDecText(init));
        return 10;
    }
    frontEnd.appendLog(QStringLiteral("Init ready..."));
    // The init has just selected the type the target reported.
    const int type = frontEnd.mcuTypeIndex();
    return type >= 1 && type < protocol::kMcuTypeCount ? 0 : -10;
}

int checkAndRun(Session &session, uint32_t length)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (session.commands.CMD_SWD_CHECK(session.state.mcuCodeCrc, 0, length) != 0) {
        frontEnd.appendLog(QStringLiteral("Check crc NG!"));
        return -7;
    }
    frontEnd.appendLog(QStringLiteral("Check crc OK!"));
    logTimestamp(frontEnd);
    return session.commands.CMD_SWD_INIT(1, 0) != 0 ? 10 : 0;
}

} // namespace

int programTarget(Session &session, const QByteArray &mcuCodeBuffer)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (mcuCodeBuffer.size() < 8) {
        frontEnd.showCriticalMessage(QStringLiteral("There aren't any datas to update!"));
        return -1;
    }
    frontEnd.clearLog();
    frontEnd.setProgress(0);
    const int connected = connectTarget(session);
    if (connected != 0)
        return connected;
    logTimestamp(frontEnd);
    frontEnd.appendLog(QStringLiteral("Start to program ..."));
    const int written = writeImage(session, mcuCodeBuffer);
    if (written != 0)
        return written;
    frontEnd.appendLog(QStringLiteral("Program end!"));
    logTimestamp(frontEnd);
    return checkAndRun(session, uint32_t(mcuCodeBuffer.size()));
}

int programTargetOperation(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (!session.usbDevice.isOpen()) {
        frontEnd.appendLog(kDisconnected);
        frontEnd.setOperationButtonsEnabled(false);
        return kProgrammerNotOpen;
    }
    QByteArray mcuCodeBuffer;
    const CodeFileTexts texts{QStringLiteral("Please input a code file"),
                              QStringLiteral("Read fail,please check the path!"), true};
    if (readCodeImage(session, texts, mcuCodeBuffer) != CodeRead::Ready)
        return kInputRefused;
    frontEnd.setOperationButtonsEnabled(false);
    const int result = programTarget(session, mcuCodeBuffer);
    frontEnd.appendLog(QString());
    frontEnd.appendLog(result == 0
                           ? QStringLiteral("Program target is OK!!!!!!")
                           : QStringLiteral("Program target is fail.....") + toDecText(result));
    frontEnd.setOperationButtonsEnabled(true);
    return result;
}

} // namespace zq::ops
