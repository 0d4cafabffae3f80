#include "protocol/ConnectReply.h"

#include "protocol/ByteOrder.h"

namespace zq::protocol
{

namespace
{

uint32_t versionAt(const uint8_t *bytes)
{
    return 0x20000000u | bigEndian24(bytes);
}

} // namespace

int connectionModeOf(uint8_t modeByte)
{
    switch (modeByte) {
    case '[':
        return ConnectReply::UpdateMcuCode;
    case ';':
        return ConnectReply::NormalWork;
    case '+':
        return ConnectReply::UpdateBoot;
    default:
        return ConnectReply::UnknownMode;
    }
}

ConnectReply decodeConnectReply(const uint8_t *reply)
{
    ConnectReply decoded;
    decoded.modeByte = reply[2];
    decoded.connectionMode = connectionModeOf(reply[2]);
    const uint32_t runningVersion = versionAt(reply + 3);
    const uint32_t otherVersion = versionAt(reply + 18);
    if (decoded.connectionMode == ConnectReply::NormalWork) {
        decoded.appVersion = runningVersion;
        decoded.bootVersion = otherVersion;
    } else if (decoded.connectionMode != ConnectReply::UnknownMode) {
        decoded.bootVersion = runningVersion;
        decoded.appVersion = otherVersion;
    }
    decoded.boardMcu = bigEndian32(reply + 14);
    decoded.boardId = bigEndian32(reply + 22);
    decoded.flashId = bigEndian24(reply + 7);
    return decoded;
}

} // namespace zq::protocol
