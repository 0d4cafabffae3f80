#pragma once

#include <cstdint>

namespace zq::protocol
{

// What the programmer says about itself in its 36-byte answer to the connect command.
struct ConnectReply {
    enum Mode { UnknownMode = -1, UpdateMcuCode = 0, NormalWork = 1, UpdateBoot = 2 };

    uint8_t modeByte = 0; // reply byte 2: ';', '[' or '+' for the three modes
    int connectionMode = UnknownMode;
    // Versions are 0x20 in the top byte, then three reply bytes. The running code's version sits
    // in bytes 3..5 and the other code's in 18..20, so which is which depends on the mode; both
    // stay 0 when the mode is unknown.
    uint32_t bootVersion = 0;
    uint32_t appVersion = 0;
    uint32_t boardMcu = 0; // bytes 14..17
    uint32_t boardId = 0;  // bytes 22..25
    uint32_t flashId = 0;  // bytes 7..9, 24 bits
};

constexpr int kConnectReplySize = 36;

// The mode a mode byte announces, or UnknownMode.
int connectionModeOf(uint8_t modeByte);

// Decodes a reply of kConnectReplySize bytes whose length and CRC have been checked.
ConnectReply decodeConnectReply(const uint8_t *reply);

} // namespace zq::protocol
