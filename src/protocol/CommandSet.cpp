#include "protocol/CommandSet.h"

#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "protocol/CommandFrame.h"
#include "protocol/Transaction.h"
#include "usb/UsbBurnCtrl.h"

namespace zq::protocol
{

CommandSet::CommandSet(USB_BURN_CTRL &burnCtrl, FrontEnd &frontEnd, HandOverWait &wait)
    : burnCtrl_(burnCtrl), frontEnd_(frontEnd), wait_(wait)
{
}

int CommandSet::exchange(int32_t frameLength, const Exchange &rules)
{
    Transaction transaction(burnCtrl_, frontEnd_, rules.style, wait_);
    const int result = transaction.run(frameLength, rules.sendTries, rules.replyTries);
    if (result != 0)
        return result;
    return checkReply(reply(), burnCtrl_.rxLength.load(), rules.reply, frontEnd_);
}

int CommandSet::sendBlock(uint8_t letter, const uint8_t *data, uint32_t address, int32_t length,
                          const Exchange &rules)
{
    if (length < 0 || length > kMaxBlockLength)
        return -1;
    return exchange(buildBlockFrame(burnCtrl_.txBuffer, letter, address, data, length), rules);
}

int CommandSet::reportReadCrc()
{
    frontEnd_.appendLog(QStringLiteral("Read crc:") + toHexText(replyValue(reply()), 8));
    return replyStatus(reply());
}

const uint8_t *CommandSet::reply() const
{
    return burnCtrl_.rxBuffer;
}

} // namespace zq::protocol
