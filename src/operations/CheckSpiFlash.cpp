#include "operations/CodeImage.h"
#include "frontend/FrontEnd.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbDevice.h"

namespace zq::ops
{

namespace
{

// An unreadable file still lets the user check the image read before, but checking when no
// image was ever read would compare 0 bytes against CRC 0 and pass for nothing.
bool haveImageToCheck(Session &session)
{
    QByteArray mcuCodeBuffer;
    const CodeFileTexts texts{QStringLiteral("Please input flash code file"),
                              QStringLiteral("Read fail,please check the path!"), false};
    switch (readCodeImage(session, texts, mcuCodeBuffer)) {
    case CodeRead::Ready:
        return true;
    case CodeRead::Unreadable:
        return session.state.mcuCodeRead;
    default:
        return false;
    }
}

} // namespace

int checkSpiFlash(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (!session.usbDevice.isOpen()) {
        frontEnd.appendLog(QStringLiteral("The programmer boot is disconnected!"));
        frontEnd.setOperationButtonsEnabled(false);
        return kProgrammerNotOpen;
    }
    if (!haveImageToCheck(session))
        return kInputRefused;
    frontEnd.appendLog(QString());
    frontEnd.appendLog(QString());
    frontEnd.setOperationButtonsEnabled(false);
    const ProgrammerState &state = session.state;
    // A download never stores so short an image, and a check of 0 bytes would pass for nothing.
    const int result =
        refuseShortImage(frontEnd, state.mcuCodeLength)
            ? -1
            : session.commands.CMD_CHECK_SPIFLASH(state.mcuCodeCrc, state.codeFlashAddress,
                                                  uint32_t(state.mcuCodeLength));
    frontEnd.appendLog(result == 0 ? QStringLiteral("Check programmer flash CRC is OK...")
                                   : QStringLiteral("Check programmer flash CRC is NG..."));
    frontEnd.setOperationButtonsEnabled(true);
    return result;
}

} // namespace zq::ops
