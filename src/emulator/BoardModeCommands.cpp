// The board's side of CMD_CONNECT ('K') and CMD_USB_BOOT ('O').
#include "emulator/Board.h"

namespace zq::emu
{

Packet Board::connect() const
{
    return connectReply(identity_);
}

Board::Response Board::usbBoot(const CommandFrame &frame) const
{
    switch (frame.byteAt(6)) {
    case 0:
        return {{statusReply('O', 0, 0)}, BoardMode::McuUpdate};
    case 1:
        return {{statusReply('O', 0, 0)}, BoardMode::Normal};
    default:
        return {{statusReply('O', 0, StatusBadArgument)}, std::nullopt};
    }
}

} // namespace zq::emu
