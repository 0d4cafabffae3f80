#include "common/ByteOrder.h"
#include "common/Crc32.h"
#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "operations/BlockTransfer.h"
#include "operations/CodeImage.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "protocol/TargetIds.h"

#include <algorithm>

namespace zq::ops
{

namespace
{

// The 512-byte record stored at address 0 of the programmer's SPI flash beside the image: what
// the programmer needs to program targets on its own.
constexpr int kMessageBlockSize = 512;
constexpr uint32_t kMessageMagic = 0xA5C37755;
constexpr int kMessageMagicOffset = 500;
constexpr int kMessageCrcOffset = 504;

struct MessageFields {
    uint32_t targetId;
    uint32_t programNumber;
    int32_t imageLength;
    uint32_t imageCrc;
    uint32_t swdSpeed;
};

// Fills block[0..511]: fields little-endian as the programmer's MCU reads its flash (ids and
// number inverted), 0xFF filler, the magic at 500 and the CRC of bytes 0..503 twice. Returns
// that CRC.
uint32_t buildMessageBlock(uint8_t *block, const MessageFields &fields)
{
    std::fill(block, block + kMessageBlockSize, uint8_t(0xFF));
    writeLittleEndian(block + 0, 4, ~fields.targetId);
    writeLittleEndian(block + 4, 4, ~fields.programNumber);
    writeLittleEndian(block + 8, 4, uint32_t(fields.imageLength));
    writeLittleEndian(block + 12, 4, fields.imageCrc);
    writeLittleEndian(block + 16, 4, fields.swdSpeed);
    writeLittleEndian(block + kMessageMagicOffset, 4, kMessageMagic);
    const uint32_t crc = crc32(block, kMessageCrcOffset);
    writeLittleEndian(block + kMessageCrcOffset, 4, crc);
    writeLittleEndian(block + kMessageCrcOffset + 4, 4, crc);
    return crc;
}

// The "Program Number:" text as a decimal number; anything that is not one, or does not fit the
// 32-bit field, counts as 0.
uint32_t programNumberFromText(const QString &text)
{
    bool ok = false;
    const uint32_t number = text.toUInt(&ok, 10);
    return ok ? number : 0;
}

// The SWD speed list index as the programmer knows it: 0..2, no selection as 0.
uint32_t swdSpeedCode(int listIndex)
{
    return uint32_t(std::clamp(listIndex, 0, 2));
}

MessageFields messageFields(Session &session)
{
    const FrontEnd &frontEnd = session.frontEnd;
    const FrontEnd::Choices choices = frontEnd.choices();
    return {protocol::targetIdForIndex(choices.mcuTypeIndex),
            programNumberFromText(choices.programNumberText), session.state.mcuCodeLength,
            session.state.mcuCodeCrc, swdSpeedCode(choices.swdSpeedIndex)};
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
    if (written != protocol::Ok) {
        frontEnd.appendLog(QStringLiteral("Write SPI Flash, Addr : 0x") + QStringLiteral("0") +
                           toDecText(written));
        return download::WriteFailed;
    }
    const uint32_t blockCrc = crc32(block.data(), kMessageBlockSize);
    if (session.commands.CMD_CHECK_SPIFLASH(blockCrc, 0, kMessageBlockSize) != protocol::Ok)
        return download::WriteFailed;
    frontEnd.appendLog(QStringLiteral("Check message data CRC pass."));
    return 0;
}

// Every block goes out whole, the last and shorter one too: the programmer stores whole blocks,
// and the image check covers only the image's length.
int writeImage(Session &session, const QByteArray &image)
{
    const BlockWriter writer{[&session](const uint8_t *data, uint32_t address, int32_t length) {
                                 return session.commands.CMD_WRITE_SPIFLASH(data, address, length);
                             },
                             session.state.codeFlashAddress,
                             QStringLiteral("NG, Addr : 0x"),
                             kDisconnected,
                             {download::WriteFailed, download::ProgrammerLost,
                              download::WriteFailed, download::ProgrammerLost},
                             true};
    return writeBlocks(session, image, writer);
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

// 0 when the image may go; ShortImage or BeyondFlash after the reason was shown.
int refuseImage(Session &session, const QByteArray &image)
{
    if (refuseShortImage(session.frontEnd, image.size()))
        return download::ShortImage;
    return refuseImageBeyondFlash(session, image.size()) ? download::BeyondFlash : 0;
}

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

int downloadImage(Session &session, const QByteArray &mcuCodeBuffer)
{
    FrontEnd &frontEnd = session.frontEnd;
    frontEnd.clearLog();
    frontEnd.beginStage(FrontEnd::Stage::Write);
    frontEnd.setProgress(0);
    logTimestamp(frontEnd);
    frontEnd.appendLog(QStringLiteral("Start to download ..."));
    const int written = writeImage(session, mcuCodeBuffer);
    if (written != 0)
        return written;
    frontEnd.setProgress(99);
    frontEnd.appendLog(QStringLiteral("Download end!"));
    frontEnd.beginStage(FrontEnd::Stage::Check);
    logTimestamp(frontEnd);
    const ProgrammerState &state = session.state;
    if (session.commands.CMD_CHECK_SPIFLASH(state.mcuCodeCrc, state.codeFlashAddress,
                                            uint32_t(state.mcuCodeLength)) != protocol::Ok)
        return download::CheckFailed;
    frontEnd.appendLog(QStringLiteral("Check crc pass."));
    frontEnd.appendLog(QStringLiteral("Save message to flash"));
    frontEnd.beginStage(FrontEnd::Stage::Message);
    const int saved = saveMessageBlock(session);
    if (saved != 0)
        return saved;
    logTimestamp(frontEnd);
    return 0;
}

int downloadToProgrammer(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (!requireOpenProgrammer(session, kDisconnected))
        return kProgrammerNotOpen;
    session.state.targetId = protocol::targetIdForIndex(frontEnd.choices().mcuTypeIndex);
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
    const Verdict verdict{QStringLiteral("Download to the programmer flash is OK!!!!!!"),
                          QStringLiteral("Download to the programmer flash is fail.....")};
    return runWithButtonsOff(session, verdict, [&] {
        const int refused = refuseImage(session, mcuCodeBuffer);
        return refused != 0 ? refused : downloadImage(session, mcuCodeBuffer);
    });
}

int checkSpiFlash(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (!requireOpenProgrammer(session, QStringLiteral("The programmer boot is disconnected!")))
        return kProgrammerNotOpen;
    if (!haveImageToCheck(session))
        return kInputRefused;
    frontEnd.appendLog(QString());
    frontEnd.appendLog(QString());
    const Verdict verdict{QStringLiteral("Check programmer flash CRC is OK..."),
                          QStringLiteral("Check programmer flash CRC is NG..."), false, true};
    return runWithButtonsOff(session, verdict, [&session] {
        const ProgrammerState &state = session.state;
        // A download never stores so short an image, and a check of 0 bytes would pass for
        // nothing.
        if (refuseShortImage(session.frontEnd, state.mcuCodeLength))
            return int(flashCheck::ShortImage);
        session.frontEnd.beginStage(FrontEnd::Stage::Check);
        return session.commands.CMD_CHECK_SPIFLASH(state.mcuCodeCrc, state.codeFlashAddress,
                                                   uint32_t(state.mcuCodeLength));
    });
}

} // namespace zq::ops
