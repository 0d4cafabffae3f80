#include "protocol/CommandSet.h"

#include "protocol/CommandFrame.h"
#include "usb/UsbBurnCtrl.h"

namespace zq::protocol
{

int CommandSet::CMD_SWD_CHECK(uint32_t expectedCrc, uint32_t startAddress, uint32_t length)
{
    static const Exchange rules{WaitStyle::Millisecond,
                                1000,
                                25000,
                                {kReplySize, ReplyRule::Length::Exact, 'W', "CRC error:"}};
    const int frameLength =
        buildCheckFrame(burnCtrl_.txBuffer, 'G', startAddress, length, expectedCrc);
    const int result = exchange(frameLength, rules);
    return result != 0 ? result : reportReadCrc();
}

} // namespace zq::protocol
