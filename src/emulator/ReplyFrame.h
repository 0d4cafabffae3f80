#pragma once

#include "emulator/BoardIdentity.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zq::emu
{

// One bulk IN packet as the board sends it.
using Packet = std::vector<uint8_t>;

// Reply layouts. Bytes 0 and 1 echo the command frame's 0xAA 0x55; the host does not look at
// them. Every reply ends with the CRC of the bytes before it.
constexpr size_t StatusReplyLength = 13;
constexpr size_t ConnectReplyLength = 36;

// Status byte values the board uses beyond the protocol's 0 (done) and 1 (progress).
constexpr uint8_t StatusCrcMismatch = 2;
constexpr uint8_t StatusOutOfRange = 3;
constexpr uint8_t StatusNotConnected = 4;
constexpr uint8_t StatusBadArgument = 5;

inline uint8_t replyMarker(char command)
{
    return uint8_t(command + 0x10);
}

// The 13-byte reply: marker at 2, value at 4..7, status at 8.
Packet statusReply(char command, uint32_t value, uint8_t status);
// CMD_SWD_INIT's own 13-byte layout: target id at 3..6, status at 7.
Packet swdInitReply(uint32_t targetId, uint8_t status);
// The 36-byte connect reply; its marker is the mode byte.
Packet connectReply(const BoardIdentity &identity);

// Recomputes the CRC at the end of a reply after one of its bytes was changed on purpose.
void resealReply(Packet &packet);

} // namespace zq::emu
