// The board's side of CMD_SWD_INIT ('A'), CMD_SWD_WRITE ('F') and CMD_SWD_CHECK ('G').
#include "emulator/Board.h"

namespace zq::emu
{

namespace
{
constexpr uint8_t InitMode = '0';
constexpr uint8_t PowerOff = 'P';
} // namespace

Packet Board::swdInit(const CommandFrame &frame)
{
    const uint8_t speed = frame.byteAt(11);
    const uint32_t targetId = target_.config().present ? target_.config().targetId : 0;
    if (frame.byteAt(6) == InitMode)
        return swdInitReply(targetId, target_.connect(speed) ? 0 : 1);
    return swdInitReply(targetId, target_.run(frame.byteAt(12) == PowerOff) ? 0 : 1);
}

Packet Board::swdWrite(const CommandFrame &frame)
{
    if (!target_.connected())
        return statusReply('F', 0, StatusNotConnected);
    const bool written = target_.flash().write(frame.address, frame.data);
    return statusReply('F', 0, written ? 0 : StatusOutOfRange);
}

Packet Board::swdCheck(const CommandFrame &frame) const
{
    const RegionCheck check = regionCheckOf(frame);
    if (!target_.connected())
        return statusReply('G', 0, StatusNotConnected);
    if (!target_.flash().contains(check.start, check.length))
        return statusReply('G', 0, StatusOutOfRange);
    const uint32_t crc = target_.flash().crc(check.start, check.length);
    return statusReply('G', crc, crc == check.expectedCrc ? 0 : StatusCrcMismatch);
}

} // namespace zq::emu
