#pragma once

#include "emulator/BoardIdentity.h"
#include "emulator/FlashMemory.h"

namespace zq::emu
{

// The target MCU on the SWD cable. Its flash can be written and read back only while the link
// is up, that is between an init and the next run.
class SwdTarget
{
public:
    explicit SwdTarget(const TargetConfig &config);

    const TargetConfig &config() const { return config_; }

    // Init: brings the link up; false when no target answers.
    bool connect(uint8_t speed);
    // Run: lets the target go and drops the link; false when the link was not up.
    bool run(bool powerOff);

    bool connected() const { return connected_; }
    uint8_t speed() const { return speed_; }
    bool poweredOff() const { return poweredOff_; }
    int runCount() const { return runCount_; }

    FlashMemory &flash() { return flash_; }
    const FlashMemory &flash() const { return flash_; }

private:
    TargetConfig config_;
    FlashMemory flash_;
    bool connected_ = false;
    bool poweredOff_ = false;
    uint8_t speed_ = 0;
    int runCount_ = 0;
};

} // namespace zq::emu
