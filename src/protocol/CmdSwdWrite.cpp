#include "protocol/CommandSet.h"

namespace zq::protocol
{

int CommandSet::CMD_SWD_WRITE(const uint8_t *data, uint32_t address, int32_t length)
{
    static const Exchange rules{WaitStyle::TwoMicroseconds,
                                200000,
                                400000,
                                {kReplySize, ReplyRule::Length::Exact, 'V', nullptr}};
    return sendBlock('F', data, address, length, rules);
}

} // namespace zq::protocol
