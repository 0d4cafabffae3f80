#include "operations/CodeImage.h"
#include "common/ByteOrder.h"

#include "common/Crc32.h"
#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "operations/ImageFile.h"
#include "operations/Operations.h"
#include "operations/Session.h"

#include <QFileInfo>

namespace zq::ops
{

namespace
{

const QString kAddressProblem =
    QStringLiteral("There is a problem with the running address of this file!");

const uint8_t *bytesOf(const QByteArray &image)
{
    return reinterpret_cast<const uint8_t *>(image.constData());
}

void takeImage(ProgrammerState &state, const QByteArray &image)
{
    state.mcuCodeCrc = crc32(bytesOf(image), size_t(image.size()));
    state.mcuCodeLength = image.size();
    state.mcuCodeRead = true;
}

bool reportAddressProblem(FrontEnd &frontEnd, const QByteArray &image)
{
    if (!runningAddressCheck(bytesOf(image), image.size()))
        return false;
    frontEnd.showCriticalMessage(kAddressProblem);
    frontEnd.appendLog(QStringLiteral("***") + kAddressProblem + QStringLiteral("***"));
    return true;
}

} // namespace

uint32_t entryAddress(const uint8_t *image, int32_t length)
{
    uint8_t word[4] = {};
    for (int32_t i = 4; i < 8 && i < length; ++i)
        word[i - 4] = image[i];
    return readLittleEndian(word, 4);
}

// Within the flash at 0x08000000 only the first 4 KiB page, and within the region at 0x10000000
// only the first 8 KiB, hold entry points of a stand-alone image; an entry further in belongs to
// an image built to sit behind a loader. Addresses elsewhere are not judged.
bool runningAddressCheck(const uint8_t *image, int32_t length)
{
    const uint32_t entry = entryAddress(image, length);
    if ((entry & 0xFFF00000) == 0x08000000)
        return (entry & 0xFFFFF000) != 0x08000000;
    if ((entry & 0xFF000000) == 0x10000000)
        return (entry & 0xFFFFF000) > 0x10001000;
    return false;
}

QString codeSummaryText(uint32_t crc, int32_t length)
{
    return QStringLiteral("Mcu code, CRC = ") + toHexText(crc, 8) + QStringLiteral(" Len: ") +
           toDecText(length);
}

QString codeFileFilter()
{
    return QStringLiteral("file(*.bin);;Intel HEX, S-record, ELF(*.hex *.ihx *.s19 *.s28 *.s37 "
                          "*.srec *.mot *.elf *.axf)");
}

bool refuseShortImage(FrontEnd &frontEnd, int32_t length)
{
    if (length >= kShortestImage)
        return false;
    frontEnd.showCriticalMessage(QStringLiteral("There aren't any datas to update!"));
    return true;
}

CodeRead readCodeImage(Session &session, const CodeFileTexts &texts, QByteArray &mcuCodeBuffer)
{
    FrontEnd &frontEnd = session.frontEnd;
    const QString path = frontEnd.choices().codePath;
    if (path.isEmpty()) {
        frontEnd.showCriticalMessage(texts.emptyPath);
        return CodeRead::NoPath;
    }
    LoadedImage loaded = session.imageAt(path, Session::ImageKind::Code);
    if (loaded.status != LoadedImage::Status::Ready) {
        const bool refused = loaded.status == LoadedImage::Status::Refused;
        frontEnd.showCriticalMessage(refused ? imageRefusal(QFileInfo(path).fileName(), loaded)
                                             : texts.openFailure);
        frontEnd.appendLog(path);
        return refused ? CodeRead::Refused : CodeRead::Unreadable;
    }
    mcuCodeBuffer = std::move(loaded.bytes);
    takeImage(session.state, mcuCodeBuffer);
    frontEnd.setCodeSummary(codeSummaryText(session.state.mcuCodeCrc, session.state.mcuCodeLength));
    if (!texts.checkRunningAddress)
        return CodeRead::Ready;
    frontEnd.clearLog();
    return reportAddressProblem(frontEnd, mcuCodeBuffer) ? CodeRead::BadAddress : CodeRead::Ready;
}

// Choosing only inspects the file; every operation reads it again from the path line.
void inputMcuCode(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    const QString path = frontEnd.chooseOpenFile(QStringLiteral("Select Mcu Code"),
                                                 session.state.mcuCodePath, codeFileFilter());
    if (path.isEmpty())
        return;
    session.state.mcuCodePath = path;
    frontEnd.clearLog();
    frontEnd.setCodePathText(path);
    const LoadedImage loaded = loadCodeImage(path);
    if (loaded.status != LoadedImage::Status::Ready) {
        frontEnd.showErrorMessage(loaded.status == LoadedImage::Status::Refused
                                      ? imageRefusal(QFileInfo(path).fileName(), loaded)
                                      : QStringLiteral("Read fail,please check the path!"));
        return;
    }
    const QByteArray &image = loaded.bytes;
    takeImage(session.state, image);
    // A raw binary keeps the log it always had; a converted file says what it was read as.
    if (loaded.format != ImageFormat::Raw)
        frontEnd.appendLog(imageDescription(QFileInfo(path).fileName(), loaded));
    reportAddressProblem(frontEnd, image);
    frontEnd.appendLog(QStringLiteral("enter_Addr:") +
                       toHexText(entryAddress(bytesOf(image), image.size()), 8));
    frontEnd.setCodeSummary(codeSummaryText(session.state.mcuCodeCrc, session.state.mcuCodeLength));
}

} // namespace zq::ops
