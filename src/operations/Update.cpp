#include "common/Crc32.h"
#include "config/ImageHeader.h"
#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "operations/BlockTransfer.h"
#include "operations/ImageFile.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbDevice.h"

#include <QDir>
#include <QThread>

namespace zq::ops
{

namespace
{

using protocol::ConnectionMode;

const QString kBootDisconnected = QStringLiteral("The programmer boot is disconnected!");

// CMD_USB_BOOT's argument: which resident program the programmer starts.
constexpr uint8_t kStartApplication = 1; // from the boot loader, after an application update
constexpr uint8_t kStartBootLoader = 0;  // from the application

// Gives the programmer time to leave before anything else is asked of it; the event loop must
// not run meanwhile.
void letProgrammerLeave()
{
    QThread::msleep(60);
}

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
    static const UpdateKind kind{kBootDisconnected,
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
    LoadedImage loaded = session.imageAt(path, Session::ImageKind::Programmer);
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
    if (!requireOpenProgrammer(session, kind.notOpenLine))
        return kProgrammerNotOpen;
    frontEnd.clearLog();
    QByteArray updateBuffer;
    if (!readUpdateFile(session, kind, updateBuffer))
        return kInputRefused;
    const config::ImageHeader header = config::readImageHeader(updateBuffer);
    compareVersion(session, kind, header.version);
    if (!acceptMcuType(session, kind, header.mcuType))
        return kInputRefused;
    const Verdict verdict{QStringLiteral("Update MCU is OK!!!!!!"),
                          QStringLiteral("Update MCU is fail.....")};
    return runWithButtonsOff(session, verdict,
                             [&] { return updateEmbeddedFlash(session, updateBuffer); });
}

// Blocks are addressed by their offset in the image.
int writeImage(Session &session, const QByteArray &image)
{
    const BlockWriter writer{
        [&session](const uint8_t *data, uint32_t offset, int32_t length) {
            return session.commands.CMD_UPDATE_FLASH(data, offset, length);
        },
        0,
        QStringLiteral("UPDATE_FLASH NG, Addr : 0x"),
        kBootDisconnected,
        {update::BlockFailed, update::LostAfterBlock, update::LostAfterBlock, update::LostAtEnd}};
    return writeBlocks(session, image, writer);
}

// The programmer restarts into its other resident program: the boot loader hands over to the
// new application, the application goes back to the boot loader. Either way the update that
// was just done is not offered again on this connection.
void switchResidentProgram(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (session.state.connectionMode == ConnectionMode::UpdateMcuCode) {
        session.commands.CMD_USB_BOOT(kStartApplication);
        frontEnd.setButtonEnabled(FrontEnd::Button::UpdateAPP, false);
    } else {
        session.commands.CMD_USB_BOOT(kStartBootLoader);
        session.state.bootUpdateEnabled = false;
        frontEnd.setButtonEnabled(FrontEnd::Button::UpdateBoot, false);
    }
    letProgrammerLeave();
    frontEnd.setButtonEnabled(FrontEnd::Button::UpdateAPP, false);
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
    if (updateBuffer.size() < kShortestImage) {
        frontEnd.showCriticalMessage(QStringLiteral("There aren't any datas to update!"));
        return update::ShortImage;
    }
    if (refuseOversizedUpdate(frontEnd, updateBuffer.size()))
        return update::TooLarge;
    frontEnd.clearLog();
    frontEnd.beginStage(FrontEnd::Stage::Write);
    frontEnd.setProgress(0);
    logTimestamp(frontEnd);
    frontEnd.appendLog(QStringLiteral("Program flash.."));
    const int written = writeImage(session, updateBuffer);
    if (written != 0)
        return written;
    frontEnd.appendLog(QStringLiteral("Write EFlash end!"));
    frontEnd.beginStage(FrontEnd::Stage::Check);
    logTimestamp(frontEnd);
    if (session.commands.CMD_CHECK_EFLASH(session.state.updateCrc, 0,
                                          uint32_t(updateBuffer.size())) != protocol::Ok) {
        frontEnd.appendLog(QStringLiteral("Check EFlash NG!"));
        return update::CrcDiffers;
    }
    frontEnd.appendLog(QStringLiteral("Check EFlash OK!"));
    logTimestamp(frontEnd);
    switchResidentProgram(session);
    return 0;
}

// Switches the programmer to its other resident program and nothing more: no reconnect, no
// change of the mode last reported, no button.
void runUartApplication(Session &session)
{
    if (!requireOpenProgrammer(session, kBootDisconnected))
        return;
    session.commands.CMD_USB_BOOT(session.state.connectionMode == ConnectionMode::UpdateMcuCode
                                      ? kStartApplication
                                      : kStartBootLoader);
    letProgrammerLeave();
}

} // namespace zq::ops
