#include "protocol/CommandSet.h"

#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "protocol/CommandFrame.h"
#include "protocol/Transaction.h"
#include "usb/UsbBurnCtrl.h"

#include <algorithm>

namespace zq::protocol
{

namespace
{

constexpr uint8_t kStatusDone = 0;
constexpr uint8_t kStatusProgress = 1;

// Progress counts the bytes checked so far against the length being checked. 64 bits keep
// value * 100 from wrapping on large flashes; an empty check has nothing to scale.
int progressPercent(uint32_t checked, uint32_t total)
{
    if (total == 0)
        return 0;
    return int(std::min<uint64_t>(uint64_t(checked) * 100 / total, 100));
}

} // namespace

// The programmer may send progress replies before its verdict; all of them answer this one
// frame, each within its own reply tries.
int CommandSet::CMD_CHECK_SPIFLASH(uint32_t expectedCrc, uint32_t startAddress, uint32_t length)
{
    static const ReplyRule rule{kReplySize, ReplyRule::Length::Exact, 'Y', "CRC error:"};
    Transaction transaction(burnCtrl_, frontEnd_, WaitStyle::Millisecond, wait_);
    const int frameLength =
        buildCheckFrame(burnCtrl_.txBuffer, 'I', startAddress, length, expectedCrc);
    if (transaction.send(frameLength, 1000) != 0)
        return -1;
    frontEnd_.setProgress(0);
    for (;;) {
        if (transaction.awaitReply(2200) != 0)
            return -2;
        transaction.releaseReply();
        frontEnd_.processEvents();
        const int valid = checkReply(reply(), burnCtrl_.rxLength.load(), rule, frontEnd_);
        if (valid != 0)
            return valid;
        if (replyStatus(reply()) != kStatusProgress)
            break;
        frontEnd_.setProgress(progressPercent(replyValue(reply()), length));
    }
    if (replyStatus(reply()) != kStatusDone)
        return reportReadCrc();
    frontEnd_.appendLog(QStringLiteral("Check CRC:") + toHexText(replyValue(reply()), 8));
    frontEnd_.appendLog(QStringLiteral("Write spi flash OK!"));
    frontEnd_.setProgress(100);
    return 0;
}

} // namespace zq::protocol
