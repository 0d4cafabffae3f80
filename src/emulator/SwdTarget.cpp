#include "emulator/SwdTarget.h"

namespace zq::emu
{

SwdTarget::SwdTarget(const TargetConfig &config) : config_(config), flash_(config.flashSize) {}

bool SwdTarget::connect(uint8_t speed)
{
    speed_ = speed;
    connected_ = config_.present;
    if (connected_)
        poweredOff_ = false;
    return connected_;
}

bool SwdTarget::run(bool powerOff)
{
    const bool wasConnected = connected_;
    connected_ = false;
    if (wasConnected) {
        poweredOff_ = powerOff;
        ++runCount_;
    }
    return wasConnected;
}

} // namespace zq::emu
