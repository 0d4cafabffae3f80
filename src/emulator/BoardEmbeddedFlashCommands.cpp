// The board's side of CMD_UPDATE_FLASH ('J') and CMD_CHECK_EFLASH ('L').
#include "emulator/Board.h"

namespace zq::emu
{

namespace
{

bool coversHeader(const RegionCheck &check)
{
    const uint64_t end = uint64_t(check.start) + check.length;
    return check.start <= EmbeddedFlash::HeaderOffset && end >= EmbeddedFlash::HeaderOffset + 3;
}

} // namespace

Packet Board::updateFlash(const CommandFrame &frame)
{
    const bool written = updatableFlash().write(frame.address, frame.data);
    return statusReply('J', 0, written ? 0 : StatusOutOfRange);
}

Packet Board::checkEmbeddedFlash(const CommandFrame &frame)
{
    const RegionCheck check = regionCheckOf(frame);
    EmbeddedFlash &flash = updatableFlash();
    if (!flash.contains(check.start, check.length))
        return statusReply('L', 0, StatusOutOfRange);
    const uint32_t crc = flash.crc(check.start, check.length);
    if (crc != check.expectedCrc)
        return statusReply('L', crc, StatusCrcMismatch);
    // A verified image is the program the board will run: from now on it reports its version.
    const std::optional<uint32_t> version = flash.headerVersion();
    if (version && coversHeader(check)) {
        uint32_t &reported = &flash == &app_ ? identity_.appVersion : identity_.bootVersion;
        reported = *version;
    }
    return statusReply('L', crc, 0);
}

} // namespace zq::emu
