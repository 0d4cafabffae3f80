#include "common/Crc32.h"
#include "frontend/FrontEnd.h"
#include "operations/ImageFile.h"
#include "config/ImageHeader.h"
#include "frontend/NumberText.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbDevice.h"

#include <QDir>

namespace zq::ops
{

namespace
{

// What tells the firmware update and the boot update apart.
struct UpdateKind {
    QString notOpenLine;
    QString folder;
    QString filter;
    QString noFileText;
    QString summaryText;
    uint32_t ProgrammerState::*boardVersion;
    QString boardVersionLabel;
    bool boot;
};

const UpdateKind &firmwareKind()
{
    static const UpdateKind kind{QStringLiteral("The programmer boot is disconnected!"),
                                 QStringLiteral("/Firmware"),
                                 QStringLiteral("file(*.app)"),
                                 QStringLiteral("Please input firmware file"),
                                 QStringLiteral("APP code, CRC = "),
                                 &ProgrammerState::appVersion,
                                 QStringLiteral("App_Version:"),
                                 false};
    return kind;
}

const UpdateKind &bootKind()
{
    static const UpdateKind kind{QStringLiteral("The programmer app is disconnected!"),
                                 QStringLiteral("/Bootware"),
                                 QStringLiteral("file(*.boot)"),
                                 QStringLiteral("Please input Bootware file"),
                                 QStringLiteral("Boot code, CRC = "),
                                 &ProgrammerState::bootVersion,
                                 QStringLiteral("Boot_Version:"),
                                 true};
    return kind;
}

// False when the user gave no file or it cannot be read; the reason has been shown.
bool readUpdateFile(Session &session, const UpdateKind &kind, QByteArray &updateBuffer)
{
    FrontEnd &frontEnd = session.frontEnd;
    const QString path = frontEnd.chooseOpenFile(QStringLiteral("Select firmware files"),
                                                 QDir::currentPath() + kind.folder, kind.filter);
    if (path.isEmpty()) {
        frontEnd.showCriticalMessage(kind.noFileText);
        return false;
    }
    LoadedImage loaded = loadRawImage(path);
    if (loaded.status != LoadedImage::Status::Ready) {
        frontEnd.showCriticalMessage(QStringLiteral("Read fail,please check the path!"));
        frontEnd.appendLog(path);
        return false;
    }
    updateBuffer = std::move(loaded.bytes);
    ProgrammerState &state = session.state;
    state.updateLength = updateBuffer.size();
    state.updateCrc = crc32(reinterpret_cast<const uint8_t *>(updateBuffer.constData()),
                            size_t(state.updateLength));
    frontEnd.appendLog(kind.summaryText + toHexText(state.updateCrc, 8) + QStringLiteral(" Len: ") +
                       toDecText(state.updateLength));
    return true;
}

// The same version is only a warning: rewriting a program is how a damaged one is repaired.
void compareVersion(Session &session, const UpdateKind &kind, uint32_t fileVersion)
{
    const uint32_t boardVersion = session.state.*kind.boardVersion;
    if (fileVersion != boardVersion)
        return;
    FrontEnd &frontEnd = session.frontEnd;
    frontEnd.appendLog(QStringLiteral("file_Version:") + toHexText(fileVersion, 8));
    frontEnd.appendLog(kind.boardVersionLabel + toHexText(boardVersion, 8));
    frontEnd.appendLog(QStringLiteral("The same version!"));
    if (kind.boot)
        frontEnd.setButtonEnabled(FrontEnd::Button::UpdateBoot, false);
}

// False when the image must not be written: a boot loader for another MCU would leave the board
// unable to start, while a wrong application can still be replaced from the boot loader.
bool acceptMcuType(Session &session, const UpdateKind &kind, uint32_t fileMcu)
{
    const uint32_t boardMcu = session.state.boardMcu;
    if (fileMcu == boardMcu)
        return true;
    FrontEnd &frontEnd = session.frontEnd;
    frontEnd.appendLog(QStringLiteral("(Board mcu)&(file mcu):") + toHexText(boardMcu, 8) +
                       QStringLiteral(" & ") + toHexText(fileMcu, 8));
    frontEnd.appendLog(QStringLiteral("The mcu type mismatch!"));
    return !kind.boot;
}

int runUpdate(Session &session, const UpdateKind &kind)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (!session.usbDevice.isOpen()) {
        frontEnd.appendLog(kind.notOpenLine);
        frontEnd.setOperationButtonsEnabled(false);
        return kProgrammerNotOpen;
    }
    frontEnd.clearLog();
    QByteArray updateBuffer;
    if (!readUpdateFile(session, kind, updateBuffer))
        return kInputRefused;
    const config::ImageHeader header = config::readImageHeader(updateBuffer);
    compareVersion(session, kind, header.version);
    if (!acceptMcuType(session, kind, header.mcuType))
        return kInputRefused;
    frontEnd.setOperationButtonsEnabled(false);
    const int result = updateEmbeddedFlash(session, updateBuffer);
    frontEnd.appendLog(QString());
    frontEnd.appendLog(result == 0 ? QStringLiteral("Update MCU is OK!!!!!!")
                                   : QStringLiteral("Update MCU is fail....."));
    frontEnd.setOperationButtonsEnabled(true);
    return result;
}

} // namespace

int updateFirmware(Session &session)
{
    return runUpdate(session, firmwareKind());
}

int updateBoot(Session &session)
{
    return runUpdate(session, bootKind());
}

} // namespace zq::ops
