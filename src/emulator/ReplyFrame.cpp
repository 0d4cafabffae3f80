#include "emulator/ReplyFrame.h"

#include "emulator/ByteOrder.h"
#include "common/Crc32.h"

namespace zq::emu
{

namespace
{

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
