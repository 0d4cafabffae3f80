#include "emulator/Frames.h"

#include "common/ByteOrder.h"
#include "common/Crc32.h"

#include <cstring>

namespace zq::emu
{

namespace
{

constexpr size_t VariableHeader = 10; // start, letter, length, address
constexpr size_t CrcLength = 4;
// A 36-byte variable frame is sent with two extra bytes so it never looks like a fixed one.
constexpr size_t PaddedVariableLength = 38;

struct FixedTag {
    char command;
    uint8_t tag[3];
    size_t tagLength;
};

// The tag each fixed-form command carries in bytes 3..5; a frame without it is not for us.
constexpr FixedTag fixedTags[] = {
    {'K', {'Z', 'Q', 0}, 2},      {'I', {0x00, 0x00, 0x24}, 3}, {'L', {0x00, 0x00, 0x24}, 3},
    {'G', {0x00, 0x00, 0x24}, 3}, {'O', {'u', 's', 'B'}, 3},    {'A', {'S', 'W', 'D'}, 3},
};

const FixedTag *fixedTagOf(char command)
{
    for (const FixedTag &tag : fixedTags)
        if (tag.command == command)
            return &tag;
    return nullptr;
}

bool crcMatches(const uint8_t *bytes, size_t covered)
{
    return crc32(bytes, covered) == readBigEndian(bytes + covered, CrcLength);
}

std::optional<CommandFrame> parseFixed(const uint8_t *bytes, size_t count, const FixedTag &tag)
{
    const size_t covered = CommandFrame::FixedLength - CrcLength;
    if (count != CommandFrame::FixedLength || !crcMatches(bytes, covered))
        return std::nullopt;
    if (std::memcmp(bytes + 3, tag.tag, tag.tagLength) != 0)
        return std::nullopt;
    CommandFrame frame;
    frame.command = char(bytes[2]);
    std::memcpy(frame.fields.data(), bytes + 3, frame.fields.size());
    return frame;
}

std::optional<CommandFrame> parseVariable(const uint8_t *bytes, size_t count)
{
    if (count < VariableHeader + CrcLength)
        return std::nullopt;
    const size_t total = readBigEndian(bytes + 3, 3);
    if (total < VariableHeader + CrcLength ||
        total > VariableHeader + CommandFrame::MaxDataLength + CrcLength)
        return std::nullopt;
    // At 36 bytes the board reads every transfer as a fixed frame, hence the host's padding.
    const bool padded = total == CommandFrame::FixedLength;
    if (count != (padded ? PaddedVariableLength : total))
        return std::nullopt;
    const size_t covered = total - CrcLength;
    if (!crcMatches(bytes, covered))
        return std::nullopt;
    CommandFrame frame;
    frame.command = char(bytes[2]);
    frame.variable = true;
    frame.address = readBigEndian(bytes + 6, 4);
    frame.data.assign(bytes + VariableHeader, bytes + covered);
    return frame;
}

Packet emptyReply(size_t length, uint8_t marker)
{
    Packet packet(length, 0);
    packet[0] = 0xAA;
    packet[1] = 0x55;
    packet[2] = marker;
    return packet;
}

bool runsApplication(BoardMode mode)
{
    return mode == BoardMode::Normal;
}

} // namespace

uint8_t CommandFrame::byteAt(size_t frameOffset) const
{
    if (frameOffset < 3 || frameOffset - 3 >= fields.size())
        return 0;
    return fields[frameOffset - 3];
}

uint32_t CommandFrame::wordAt(size_t frameOffset) const
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | byteAt(frameOffset + i);
    return value;
}

RegionCheck regionCheckOf(const CommandFrame &frame)
{
    return RegionCheck{frame.wordAt(6), frame.wordAt(10), frame.wordAt(14)};
}

bool isVariableCommand(char command)
{
    return command == 'H' || command == 'J' || command == 'F';
}

std::optional<CommandFrame> parseCommandFrame(const uint8_t *bytes, size_t count)
{
    if (bytes == nullptr || count < 3 || bytes[0] != 0xAA || bytes[1] != 0x55)
        return std::nullopt;
    const char command = char(bytes[2]);
    if (isVariableCommand(command))
        return parseVariable(bytes, count);
    if (const FixedTag *tag = fixedTagOf(command))
        return parseFixed(bytes, count, *tag);
    return std::nullopt;
}

Packet statusReply(char command, uint32_t value, uint8_t status)
{
    Packet packet = emptyReply(StatusReplyLength, replyMarker(command));
    writeBigEndian(&packet[4], 4, value);
    packet[8] = status;
    resealReply(packet);
    return packet;
}

Packet swdInitReply(uint32_t targetId, uint8_t status)
{
    Packet packet = emptyReply(StatusReplyLength, replyMarker('A'));
    writeBigEndian(&packet[3], 4, targetId);
    packet[7] = status;
    resealReply(packet);
    return packet;
}

Packet connectReply(const BoardIdentity &identity)
{
    Packet packet = emptyReply(ConnectReplyLength, uint8_t(identity.mode));
    // The running program's version comes first, the other one's at 18..20.
    const bool app = runsApplication(identity.mode);
    writeBigEndian(&packet[3], 3, app ? identity.appVersion : identity.bootVersion);
    writeBigEndian(&packet[7], 3, identity.flashId);
    writeBigEndian(&packet[14], 4, identity.boardMcu);
    writeBigEndian(&packet[18], 3, app ? identity.bootVersion : identity.appVersion);
    writeBigEndian(&packet[22], 4, identity.boardId);
    resealReply(packet);
    return packet;
}

void resealReply(Packet &packet)
{
    if (packet.size() < 4)
        return;
    const size_t covered = packet.size() - 4;
    writeBigEndian(&packet[covered], 4, crc32(packet.data(), covered));
}

} // namespace zq::emu
