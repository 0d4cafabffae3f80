#include "operations/BlockTransfer.h"

#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "operations/Session.h"
#include "usb/UsbDevice.h"

#include <algorithm>

namespace zq::ops
{

namespace
{

// A removal handled while the event loop ran has closed the device.
bool programmerGone(Session &session, const BlockWriter &writer)
{
    if (session.usbDevice.isOpen())
        return false;
    session.frontEnd.appendLog(writer.lostLine);
    if (writer.spiFlash)
        session.frontEnd.setOperationButtonsEnabled(false);
    return true;
}

bool lostAfterEvents(Session &session, const BlockWriter &writer)
{
    session.frontEnd.processEvents();
    return programmerGone(session, writer);
}

// True when written; otherwise the block's failure line has been logged.
bool sendBlock(Session &session, const BlockWriter &writer, const std::vector<uint8_t> &block,
               int offset, int count)
{
    const uint32_t address = writer.base + uint32_t(offset);
    const int result = writer.send(block.data(), address, count);
    if (result != 0)
        session.frontEnd.appendLog(blockFailureLine(writer.failurePrefix, address, result));
    return result == 0;
}

int writeRest(Session &session, const ImageBlocks &blocks, const BlockWriter &writer,
              std::vector<uint8_t> &staging)
{
    if (blocks.rest() > 0) {
        const int offset = blocks.fullCount() * kBlockSize;
        blocks.stage(staging, offset, blocks.rest());
        const int count = writer.spiFlash ? kBlockSize : blocks.rest();
        if (!sendBlock(session, writer, staging, offset, count))
            return writer.codes.lastBlockFailed;
        if (writer.spiFlash)
            return lostAfterEvents(session, writer) ? writer.codes.lostAtEnd : 0;
    }
    if (writer.spiFlash)
        return 0;
    session.frontEnd.setProgress(100);
    return programmerGone(session, writer) ? writer.codes.lostAtEnd : 0;
}

} // namespace

void ImageBlocks::stage(std::vector<uint8_t> &staging, int offset, int count) const
{
    staging.assign(kBlockSize, 0xFF);
    const auto *from = reinterpret_cast<const uint8_t *>(image.constData()) + offset;
    std::copy(from, from + count, staging.begin());
}

int ImageBlocks::progressAfter(int blocksDone) const
{
    if (image.isEmpty())
        return 0;
    return int(int64_t(blocksDone) * kBlockSize * 100 / image.size());
}

int writeBlocks(Session &session, const QByteArray &image, const BlockWriter &writer)
{
    const ImageBlocks blocks(image);
    std::vector<uint8_t> staging;
    for (int k = 0; k < blocks.fullCount(); ++k) {
        blocks.stage(staging, k * kBlockSize, kBlockSize);
        if (!sendBlock(session, writer, staging, k * kBlockSize, kBlockSize))
            return writer.codes.blockFailed;
        session.frontEnd.setProgress(blocks.progressAfter(k + 1));
        if (lostAfterEvents(session, writer))
            return writer.codes.lostAfterBlock;
    }
    return writeRest(session, blocks, writer, staging);
}

QString blockFailureLine(const QString &prefix, uint32_t address, int result)
{
    return prefix + QString::number(address, 16) + toDecText(result);
}

} // namespace zq::ops
