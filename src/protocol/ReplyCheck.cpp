#include "protocol/ReplyCheck.h"

#include "common/ByteOrder.h"
#include "common/Crc32.h"
#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"

namespace zq::protocol
{

namespace
{

bool lengthFits(int length, const ReplyRule &rule)
{
    if (rule.length == ReplyRule::Length::AtLeast)
        return length >= rule.size;
    return length == rule.size;
}

} // namespace

int checkReply(const uint8_t *reply, int length, const ReplyRule &rule, FrontEnd &frontEnd)
{
    if (!lengthFits(length, rule))
        return -3;
    if (rule.marker >= 0 && reply[2] != rule.marker)
        return -3;
    const int covered = rule.size - 4;
    const uint32_t computed = crc32(reply, size_t(covered));
    const uint32_t received = readBigEndian(reply + covered, 4);
    if (computed == received)
        return 0;
    if (rule.crcLabel)
        frontEnd.appendLog(QString::fromLatin1(rule.crcLabel) + toHexText(computed, 8) +
                           QLatin1Char(',') + toHexText(received, 8));
    return -4;
}

uint32_t replyValue(const uint8_t *reply)
{
    return readBigEndian(reply + 4, 4);
}

uint8_t replyStatus(const uint8_t *reply)
{
    return reply[8];
}

} // namespace zq::protocol
