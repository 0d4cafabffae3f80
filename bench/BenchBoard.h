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

// The device path the libusb transport gives the programmer the mock bus plugs at bus 1 and this
// address (the mock puts it on the root hub's port of the same number).
inline QString libusbPathAt(int address)
{
    return QStringLiteral("usb:1-%1/vid_5a17&pid_c0d2").arg(address);
}

} // namespace zq::bench
