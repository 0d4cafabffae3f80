#pragma once

// The board's side of the wire: the command frames it takes and the replies it sends.

#include "emulator/BoardIdentity.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zq::emu
{

// One command frame as the board understood it. Fixed-form frames keep their 29 field bytes
// (frame bytes 3..31); variable-form frames keep the block's address and data.
struct CommandFrame {
    static constexpr size_t FixedLength = 36;
    static constexpr size_t MaxDataLength = 4096;

    char command = 0;
    bool variable = false;
    std::array<uint8_t, 29> fields{};
    uint32_t address = 0;
    std::vector<uint8_t> data;

    // Byte at a frame offset of a fixed-form frame; 0 outside bytes 3..31.
    uint8_t byteAt(size_t frameOffset) const;
    // 32-bit big-endian field starting at a frame offset of a fixed-form frame.
    uint32_t wordAt(size_t frameOffset) const;
};

// The fields of the three CRC-check commands ('I', 'L', 'G').
struct RegionCheck {
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t expectedCrc = 0;
};
RegionCheck regionCheckOf(const CommandFrame &frame);

// Whether a command letter travels in the variable (block) form.
bool isVariableCommand(char command);

// Accepts exactly the frames a well-behaved host sends: the 0xAA 0x55 start, a known letter,
// the length of its form (a variable frame of total length 36 only in its 38-byte form), the
// tag that fixed frames carry in bytes 3..5, and a matching CRC. Anything else gives nothing.
// Reads only bytes[0..count), whatever they hold.
std::optional<CommandFrame> parseCommandFrame(const uint8_t *bytes, size_t count);

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
