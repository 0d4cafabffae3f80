#pragma once

#include "emulator/Board.h"
#include "protocol/TargetIds.h"

#include <QString>

#include <memory>

namespace zq::bench
{

// A board whose target has room for the largest image a benchmark sends.
inline std::shared_ptr<emu::Board> benchBoard()
{
    emu::TargetConfig target;
    target.flashSize = 4u << 20;
    return std::make_shared<emu::Board>(emu::BoardIdentity{}, target);
}

// The MCU type the user would pick for that target.
inline int benchMcuTypeIndex()
{
    return protocol::indexForTargetId(emu::TargetConfig{}.targetId);
}

// The device path the libusb transport gives the programmer at bus 1 and this address.
inline QString libusbPathAt(int address)
{
    return QStringLiteral("usb:001-%1/vid_5a17&pid_c0d2").arg(address, 3, 10, QLatin1Char('0'));
}

} // namespace zq::bench
