#include "protocol/CommandSet.h"

#include "common/ByteOrder.h"
#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "protocol/CommandFrame.h"
#include "protocol/TargetIds.h"
#include "usb/UsbBurnCtrl.h"

#include <algorithm>

namespace zq::protocol
{

namespace
{

// The programmer knows three SWD speeds; an empty list counts as the first.
uint8_t speedByte(int listIndex)
{
    return uint8_t(std::clamp(listIndex, 0, 2));
}

// Reply: target id in bytes 3..6, status in byte 7.
int reportInit(const uint8_t *reply, FrontEnd &frontEnd)
{
    if (reply[7] != 0) {
        frontEnd.appendLog(QStringLiteral("Target init fail..."));
        return -3;
    }
    const uint32_t targetId = readBigEndian(reply + 3, 4);
    frontEnd.appendLog(QStringLiteral("Target init ok..."));
    frontEnd.appendLog(QStringLiteral("Target type:") + toHexText(targetId, 8));
    frontEnd.setMcuTypeIndex(indexForTargetId(targetId));
    return 0;
}

int reportRun(const uint8_t *reply, FrontEnd &frontEnd)
{
    frontEnd.appendLog(reply[7] == 0 ? QStringLiteral("Target run...")
                                     : QStringLiteral("Target run fail..."));
    return 0;
}

} // namespace

int CommandSet::CMD_SWD_INIT(int mode, uint32_t argument)
{
    // Its fields and CRC end at byte 12; a longer reply passes, a shorter one never lends the
    // target id of an earlier reply.
    static const Exchange rules{WaitStyle::Millisecond,
                                2000,
                                3000,
                                {kReplySize, ReplyRule::Length::AtLeast, 'Q', "SWD init CRC:"}};
    const bool init = mode == 0;
    uint8_t *frame = burnCtrl_.txBuffer;
    startFixedFrame(frame, 'A');
    frame[3] = 'S';
    frame[4] = 'W';
    frame[5] = 'D';
    frame[6] = init ? '0' : '1';
    frame[11] = speedByte(frontEnd_.swdSpeedIndex());
    if (!init) {
        writeBigEndian(frame + 7, 4, argument);
        frame[12] = frontEnd_.powerOffAfterDone() ? 'P' : 'U';
    }
    const int result = exchange(sealFixedFrame(frame), rules);
    if (result != 0)
        return result;
    return init ? reportInit(reply(), frontEnd_) : reportRun(reply(), frontEnd_);
}

} // namespace zq::protocol
