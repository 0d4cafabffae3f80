#include "Transaction.h"

#include "FrontEnd.h"
#include "UsbBurnCtrl.h"

namespace zq::protocol
{

Transaction::Transaction(USB_BURN_CTRL &burnCtrl, FrontEnd &frontEnd, WaitStyle style)
    : burnCtrl_(burnCtrl), frontEnd_(frontEnd), style_(style)
{
}

int Transaction::send(int32_t txLength, int sendTries)
{
    number_ = burnCtrl_.requestNumber.load() + 1;
    burnCtrl_.requestNumber.store(number_);
    burnCtrl_.txDone.store(0);
    burnCtrl_.rxDone.store(0);
    burnCtrl_.txLength.store(txLength);
    burnCtrl_.txRequest.store(1);
    waitOnce(style_);
    for (int pass = 0; pass < sendTries; ++pass) {
        if (burnCtrl_.txDone.load() == 1) {
            burnCtrl_.txDone.store(0);
            // The worker reads one packet at a time and has just written our frame, so whatever
            // it delivered before now answered an earlier command. Dropping it here, before our
            // read request exists, cannot lose our own reply.
            burnCtrl_.rxDone.store(0);
            return 0;
        }
        frontEnd_.processEvents();
        if (frontEnd_.stopRequested())
            break;
        waitOnce(style_);
    }
    withdrawRequests();
    return -1;
}

int Transaction::awaitReply(int replyTries)
{
    burnCtrl_.rxRequest.store(1);
    waitOnce(style_);
    for (int pass = 0; pass < replyTries; ++pass) {
        if (replyArrived())
            return 0;
        frontEnd_.processEvents();
        if (frontEnd_.stopRequested())
            break;
        waitOnce(style_);
    }
    withdrawRequests();
    return -2;
}

void Transaction::releaseReply()
{
    burnCtrl_.rxDone.store(0);
}

int Transaction::run(int32_t txLength, int sendTries, int replyTries)
{
    const int sent = send(txLength, sendTries);
    return sent != 0 ? sent : awaitReply(replyTries);
}

// A request the worker has not taken yet is taken back when the transaction gives up. Otherwise a
// worker that frees up later (a late reply ended its read), or the next one started, would still
// send the abandoned frame or make the abandoned read, and the reply to it would meet a later
// transaction, which takes it for its own.
void Transaction::withdrawRequests()
{
    burnCtrl_.txRequest.store(0);
    burnCtrl_.rxRequest.store(0);
}

// Only the value 1 counts: 2 (device lost) lets the wait run out, like silence.
bool Transaction::replyArrived()
{
    if (burnCtrl_.rxDone.load() != 1)
        return false;
    if (burnCtrl_.replyNumber.load() == number_)
        return true;
    releaseReply(); // a late reply of an earlier transaction: dropped, the wait goes on
    return false;
}

} // namespace zq::protocol
