#include "protocol/CommandSet.h"

namespace zq::protocol
{

int CommandSet::CMD_WRITE_SPIFLASH(const uint8_t *data, uint32_t address, int32_t length)
{
    static const Exchange rules{WaitStyle::TwoMicroseconds,
                                200000,
                                400000,
                                {kReplySize, ReplyRule::Length::Exact, 'X', "Write Eflash CRC:"}};
    return sendBlock('H', data, address, length, rules);
}

} // namespace zq::protocol
