#include "protocol/CommandSet.h"

#include "protocol/CommandFrame.h"
#include "usb/UsbBurnCtrl.h"

namespace zq::protocol
{

int CommandSet::CMD_USB_BOOT(uint8_t runMode)
{
    static const Exchange rules{WaitStyle::Millisecond,
                                1000,
                                10000,
                                {kReplySize, ReplyRule::Length::Exact, '_', "REQ CRC:"}};
    uint8_t *frame = burnCtrl_.txBuffer;
    startFixedFrame(frame, 'O');
    frame[3] = 'u';
    frame[4] = 's';
    frame[5] = 'B';
    frame[6] = runMode;
    return exchange(sealFixedFrame(frame), rules);
}

} // namespace zq::protocol
