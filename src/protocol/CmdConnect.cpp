#include "protocol/CommandSet.h"

#include "protocol/CommandFrame.h"
#include "usb/UsbBurnCtrl.h"

namespace zq::protocol
{

int CommandSet::CMD_CONNECT(ConnectReply &identity)
{
    // The marker doubles as the mode byte, so it is the caller's to judge, after the CRC.
    static const Exchange rules{WaitStyle::Millisecond,
                                1000,
                                1000,
                                {kConnectReplySize, ReplyRule::Length::Exact, -1, "CRC error:"}};
    uint8_t *frame = burnCtrl_.txBuffer;
    startFixedFrame(frame, 'K');
    frame[3] = 'Z';
    frame[4] = 'Q';
    const int result = exchange(sealFixedFrame(frame), rules);
    if (result == 0)
        identity = decodeConnectReply(reply());
    return result;
}

} // namespace zq::protocol
