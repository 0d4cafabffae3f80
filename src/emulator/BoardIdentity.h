#pragma once

#include <cstdint>

namespace zq::emu
{

// The resident program the board runs, as the connect reply's mode byte tells it.
enum class BoardMode : uint8_t {
    Normal = ';',     // the application runs: normal work
    McuUpdate = '[',  // the boot loader runs and takes a new application
    BootUpdate = '+', // only ever a configured starting mode; takes a new boot loader
};

// What the board tells about itself in its connect reply. Versions are held in the host's form
// (0x20 in the top byte); only their low three bytes travel.
struct BoardIdentity {
    BoardMode mode = BoardMode::Normal;
    uint32_t bootVersion = 0x20250128;
    uint32_t appVersion = 0x20250310;
    uint32_t boardMcu = 0x32F10300;
    uint32_t boardId = 0x00012345;
    uint32_t flashId = 0xEF4018; // JEDEC id of a 16 MiB part
};

// The target MCU at the end of the SWD cable.
struct TargetConfig {
    bool present = true;
    uint32_t targetId = 0x5A3C3180;
    uint32_t flashSize = 256 * 1024;
};

} // namespace zq::emu
