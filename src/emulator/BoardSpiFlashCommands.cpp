// The board's side of CMD_WRITE_SPIFLASH ('H') and CMD_CHECK_SPIFLASH ('I').
#include "emulator/Board.h"

#include <algorithm>

namespace zq::emu
{

Packet Board::writeSpiFlash(const CommandFrame &frame)
{
    const bool written = spiFlash_.write(frame.address, frame.data);
    return statusReply('H', 0, written ? 0 : StatusOutOfRange);
}

std::vector<Packet> Board::checkSpiFlash(const CommandFrame &frame) const
{
    const RegionCheck check = regionCheckOf(frame);
    if (!spiFlash_.contains(check.start, check.length))
        return {statusReply('I', 0, StatusOutOfRange)};
    std::vector<Packet> replies;
    uint32_t crc = 0;
    uint32_t done = 0;
    while (done < check.length) {
        const uint32_t step = std::min(ProgressStep, check.length - done);
        crc = spiFlash_.crc(check.start + done, step, crc);
        done += step;
        if (step == ProgressStep)
            replies.push_back(statusReply('I', done, 1));
    }
    const uint8_t verdict = crc == check.expectedCrc ? 0 : StatusCrcMismatch;
    replies.push_back(statusReply('I', crc, verdict));
    return replies;
}

} // namespace zq::emu
