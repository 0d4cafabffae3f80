#include "operations/CodeImage.h"
#include "common/Crc32.h"
#include "frontend/FrontEnd.h"
#include "operations/ImageBlocks.h"
#include "operations/MessageBlock.h"
#include "frontend/NumberText.h"
#include "operations/OperationLog.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "protocol/TargetIds.h"
#include "usb/UsbDevice.h"

#include <algorithm>

namespace zq::ops
{

namespace
{

const QString kDisconnected = QStringLiteral("The programmer is disconnected!");
const QString kBlockFailure = QStringLiteral("NG, Addr : 0x");

// A removal handled while the event loop ran has closed the device.
bool programmerLost(Session &session)
{
    session.frontEnd.processEvents();
    if (session.usbDevice.isOpen())
        return false;
    session.frontEnd.appendLog(kDisconnected);
    session.frontEnd.setOperationButtonsEnabled(false);
    return true;
}

// Every block goes out whole, the last and shorter one too: the programmer stores whole blocks,
// and the image check covers only the image's length. 0, or -3 when the write failed.
int sendBlock(Session &session, const std::vector<uint8_t> &block, uint32_t address)
{
    const int result = session.commands.CMD_WRITE_SPIFLASH(block.data(), address, kBlockSize);
    if (result == 0)
        return 0;
    session.frontEnd.appendLog(blockFailureLine(kBlockFailure, address, result));
    return -3;
}

int writeImage(Session &session, const QByteArray &image)
{
    const ImageBlocks blocks(image);
    const uint32_t base = session.state.codeFlashAddress;
    std::vector<uint8_t> staging;
    for (int k = 0; k < blocks.fullCount(); ++k) {
        blocks.stage(staging, k * kBlockSize, kBlockSize);
        if (sendBlock(session, staging, base + uint32_t(k * kBlockSize)) != 0)
            return -3;
        session.frontEnd.setProgress(blocks.progressAfter(k + 1));
        if (programmerLost(session))
            return -4;
    }
    if (blocks.rest() == 0)
        return 0;
    const int offset = blocks.fullCount() * kBlockSize;
    blocks.stage(staging, offset, blocks.rest());
    if (sendBlock(session, staging, base + uint32_t(offset)) != 0)
        return -3;
    return programmerLost(session) ? -4 : 0;
}

MessageFields messageFields(Session &session)
{
    const FrontEnd &frontEnd = session.frontEnd;
    return {protocol::targetIdForIndex(frontEnd.mcuTypeIndex()),
            programNumberFromText(frontEnd.programNumberText()), session.state.mcuCodeLength,
            session.state.mcuCodeCrc, swdSpeedCode(frontEnd.swdSpeedIndex())};
}

// The record is written only after the image has passed its check, so a programmer never holds
// a record that describes an image it does not have.
int saveMessageBlock(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    std::vector<uint8_t> block(kBlockSize);
    const uint32_t crc = buildMessageBlock(block.data(), messageFields(session));
    frontEnd.appendLog(QStringLiteral("Message to crc:") + toHexText(crc, 8));
    const int written = session.commands.CMD_WRITE_SPIFLASH(block.data(), 0, kMessageBlockSize);
    if (written != 0) {
        frontEnd.appendLog(QStringLiteral("Write SPI Flash, Addr : 0x") + QStringLiteral("0") +
                           toDecText(written));
        return -3;
    }
    const uint32_t blockCrc = crc32(block.data(), kMessageBlockSize);
    if (session.commands.CMD_CHECK_SPIFLASH(blockCrc, 0, kMessageBlockSize) != 0)
        return -3;
    frontEnd.appendLog(QStringLiteral("Check message data CRC pass."));
    return 0;
}

// The image goes in whole blocks from the code address up to the end of the flash the
// catalogue names; a larger one would wrap to the flash's start, over the message block and
// the image's own beginning.
bool refuseImageBeyondFlash(Session &session, int32_t length)
{
    const ProgrammerState &state = session.state;
    const int64_t blocks = (int64_t(length) + kBlockSize - 1) / kBlockSize;
    const int64_t room = state.flashCapacity - int64_t(state.codeFlashAddress);
    if (blocks * kBlockSize <= room)
        return false;
    session.frontEnd.showCriticalMessage(
        QStringLiteral("The image is ") + QString::number(length) +
        QStringLiteral(" bytes; the programmer flash holds ") +
        QString::number(std::max<int64_t>(room, 0)) + QStringLiteral(" bytes from ") +
        toHexText(state.codeFlashAddress, 8) + QStringLiteral(" (flash size ") +
        QString::number(state.flashCapacity) + QStringLiteral(" in Flash.ini)"));
    return true;
}

// 0 when the image may go; -1 too short, -2 too large, after the reason was shown.
int refuseImage(Session &session, const QByteArray &image)
{
    if (refuseShortImage(session.frontEnd, image.size()))
        return -1;
    return refuseImageBeyondFlash(session, image.size()) ? -2 : 0;
}

} // namespace

int downloadImage(Session &session, const QByteArray &mcuCodeBuffer)
{
    FrontEnd &frontEnd = session.frontEnd;
    frontEnd.clearLog();
    frontEnd.setProgress(0);
    logTimestamp(frontEnd);
    frontEnd.appendLog(QStringLiteral("Start to download ..."));
    const int written = writeImage(session, mcuCodeBuffer);
    if (written != 0)
        return written;
    frontEnd.setProgress(99);
    frontEnd.appendLog(QStringLiteral("Download end!"));
    logTimestamp(frontEnd);
    const ProgrammerState &state = session.state;
    if (session.commands.CMD_CHECK_SPIFLASH(state.mcuCodeCrc, state.codeFlashAddress,
                                            uint32_t(state.mcuCodeLength)) != 0)
        return -5;
    frontEnd.appendLog(QStringLiteral("Check crc pass."));
    frontEnd.appendLog(QStringLiteral("Save message to flash"));
    const int saved = saveMessageBlock(session);
    if (saved != 0)
        return saved;
    logTimestamp(frontEnd);
    return 0;
}

int downloadToProgrammer(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (!session.usbDevice.isOpen()) {
        frontEnd.appendLog(kDisconnected);
        frontEnd.setOperationButtonsEnabled(false);
        return kProgrammerNotOpen;
    }
    session.state.targetId = protocol::targetIdForIndex(frontEnd.mcuTypeIndex());
    if (session.state.targetId == protocol::kNoTargetId) {
        frontEnd.clearLog();
        frontEnd.appendLog(toHexText(session.state.targetId, 8) +
                           QStringLiteral(" is wrong type!"));
        return kInputRefused;
    }
    QByteArray mcuCodeBuffer;
    const CodeFileTexts texts{QStringLiteral("Please input a code file"),
                              QStringLiteral("Read fail,please check the path!"), true};
    if (readCodeImage(session, texts, mcuCodeBuffer) != CodeRead::Ready)
        return kInputRefused;
    frontEnd.setOperationButtonsEnabled(false);
    const int refused = refuseImage(session, mcuCodeBuffer);
    const int result = refused != 0 ? refused : downloadImage(session, mcuCodeBuffer);
    frontEnd.appendLog(QString());
    frontEnd.appendLog(result == 0
                           ? QStringLiteral("Download to the programmer flash is OK!!!!!!")
                           : QStringLiteral("Download to the programmer flash is fail....."));
    frontEnd.setOperationButtonsEnabled(true);
    return result;
}

} // namespace zq::ops
