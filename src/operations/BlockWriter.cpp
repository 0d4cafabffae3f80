#include "operations/BlockWriter.h"

#include "frontend/FrontEnd.h"
#include "operations/ImageBlocks.h"
#include "operations/OperationLog.h"
#include "operations/Session.h"
#include "usb/UsbDevice.h"

#include <vector>

namespace zq::ops
{

namespace
{

bool programmerGone(Session &session, const BlockWriter &writer)
{
    if (session.usbDevice.isOpen())
        return false;
    session.frontEnd.appendLog(writer.goneLine);
    return true;
}

// True when written; otherwise the block's failure line has been logged.
bool sendBlock(Session &session, const BlockWriter &writer, const std::vector<uint8_t> &block,
               uint32_t address, int count)
{
    const int result = writer.send(block.data(), address, count);
    if (result != 0)
        session.frontEnd.appendLog(blockFailureLine(writer.failurePrefix, address, result));
    return result == 0;
}

} // namespace

int writeBlocks(Session &session, const QByteArray &image, const BlockWriter &writer)
{
    const ImageBlocks blocks(image);
    std::vector<uint8_t> staging;
    for (int k = 0; k < blocks.fullCount(); ++k) {
        blocks.stage(staging, k * kBlockSize, kBlockSize);
        if (!sendBlock(session, writer, staging, uint32_t(k * kBlockSize), kBlockSize))
            return writer.fullBlockFailed;
        session.frontEnd.setProgress(blocks.progressAfter(k + 1));
        session.frontEnd.processEvents();
        if (programmerGone(session, writer))
            return writer.goneAfterFullBlock;
    }
    if (blocks.rest() > 0) {
        const int offset = blocks.fullCount() * kBlockSize;
        blocks.stage(staging, offset, blocks.rest());
        if (!sendBlock(session, writer, staging, uint32_t(offset), blocks.rest()))
            return writer.restFailed;
    }
    session.frontEnd.setProgress(100);
    return programmerGone(session, writer) ? writer.goneAtEnd : 0;
}

} // namespace zq::ops
