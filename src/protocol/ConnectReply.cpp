#include "protocol/ConnectReply.h"

#include "common/ByteOrder.h"

namespace zq::protocol
{

namespace
{

uint32_t versionAt(const uint8_t *bytes)
{
    return 0x20000000u | readBigEndian(bytes, 3);
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
    decoded.boardMcu = readBigEndian(reply + 14, 4);
    decoded.boardId = readBigEndian(reply + 22, 4);
    decoded.flashId = readBigEndian(reply + 7, 3);
    return decoded;
}

} // namespace zq::protocol
