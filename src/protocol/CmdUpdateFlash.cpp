#include "protocol/CommandSet.h"

namespace zq::protocol
{

int CommandSet::CMD_UPDATE_FLASH(const uint8_t *data, uint32_t address, int32_t length)
{
    static const Exchange rules{
        WaitStyle::Millisecond, 1000, 2000, {kReplySize, ReplyRule::Length::Exact, 'Z', nullptr}};
    return sendBlock('J', data, address, length, rules);
}

} // namespace zq::protocol
