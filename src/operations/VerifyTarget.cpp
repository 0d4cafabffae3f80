#include "operations/CodeImage.h"
#include "frontend/FrontEnd.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbDevice.h"

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
int verifyTarget(Session &session)
{
    if (programmerMissing(session))
        return kProgrammerNotOpen;
    if (!readCodeFile(session))
        return kInputRefused;
    if (programmerMissing(session))
        return kProgrammerNotOpen;
    FrontEnd &frontEnd = session.frontEnd;
    protocol::CommandSet &commands = session.commands;
    frontEnd.appendLog(QString());
    frontEnd.appendLog(QString());
    // Comparing a target with nothing would pass for nothing.
    if (refuseShortImage(frontEnd, session.state.mcuCodeLength)) {
        frontEnd.appendLog(QStringLiteral("Check EFlash NG!"));
        return -1;
    }
    const bool linked = commands.CMD_SWD_INIT(0) == 0;
    frontEnd.appendLog(linked ? QStringLiteral("Init ready...") : QStringLiteral("Init fail..."));
    const ProgrammerState &state = session.state;
    const bool same =
        commands.CMD_SWD_CHECK(state.mcuCodeCrc, 0, uint32_t(state.mcuCodeLength)) == 0;
    frontEnd.appendLog(same ? QStringLiteral("Check EFlash OK!")
                            : QStringLiteral("Check EFlash NG!"));
    const bool running = commands.CMD_SWD_INIT(1, 0) == 0;
    if (running)
        frontEnd.appendLog(QStringLiteral("Target run..."));
    // The codes programTarget gives for the same failures.
    if (!linked)
        return 10;
    return !same ? -7 : running ? 0 : 10;
}

} // namespace zq::ops
