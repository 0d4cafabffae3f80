#include "CodeImage.h"
#include "FrontEnd.h"
#include "Operations.h"
#include "Session.h"
#include "UsbDevice.h"

namespace zq::ops
{

namespace
{

const QString kDisconnected = QStringLiteral("The programmer is disconnected!");

bool programmerMissing(Session &session)
{
    if (session.usbDevice.isOpen())
        return false;
    session.frontEnd.appendLog(kDisconnected);
    session.frontEnd.setOperationButtonsEnabled(false);
    return true;
}

// Only the file's CRC and length are needed; the image itself is not kept.
bool readCodeFile(Session &session)
{
    QByteArray mcuCodeBuffer;
    const CodeFileTexts texts{QStringLiteral("Please input flash code file"),
                              QStringLiteral("Read file fail,please check the path!"), false};
    return readCodeImage(session, texts, mcuCodeBuffer) == CodeRead::Ready;
}

} // namespace

// Each step runs whatever the one before reported, so the log shows the whole picture of the
// target: link, contents, and whether it runs.
void verifyTarget(Session &session)
{
    if (programmerMissing(session) || !readCodeFile(session) || programmerMissing(session))
        return;
    FrontEnd &frontEnd = session.frontEnd;
    protocol::CommandSet &commands = session.commands;
    frontEnd.appendLog(QString());
    frontEnd.appendLog(QString());
    frontEnd.appendLog(commands.CMD_SWD_INIT(0) != 0 ? QStringLiteral("Init fail...")
                                                     : QStringLiteral("Init ready..."));
    const ProgrammerState &state = session.state;
    frontEnd.appendLog(commands.CMD_SWD_CHECK(state.mcuCodeCrc, 0, uint32_t(state.mcuCodeLength)) !=
                               0
                           ? QStringLiteral("Check EFlash NG!")
                           : QStringLiteral("Check EFlash OK!"));
    if (commands.CMD_SWD_INIT(1, 0) == 0)
        frontEnd.appendLog(QStringLiteral("Target run..."));
}

} // namespace zq::ops
