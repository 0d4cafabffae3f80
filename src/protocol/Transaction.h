#pragma once

#include "PollWait.h"

#include <cstdint>

class USB_BURN_CTRL;

namespace zq
{
class FrontEnd;
}

namespace zq::protocol
{

// One command's exchange with the transfer worker: the frame already in txBuffer goes out, then
// one reply (or, for a command that reports progress, several) comes back in rxBuffer. Runs on the
// window's thread, which keeps its events flowing between the waits. Try counts are counts of
// polling passes; each pass looks at a flag once.
//
// Each transaction has a number of its own, which the worker copies into every reply it reads for
// it. A reply that arrives after its transaction gave up carries an older number and is dropped
// unseen, so it can never pass as the reply of a later command.
class Transaction
{
public:
    Transaction(USB_BURN_CTRL &burnCtrl, FrontEnd &frontEnd, WaitStyle style);

    // Hands txLength bytes of txBuffer to the worker and waits for it to confirm the write.
    // 0, or -1 when sendTries passes go by without the confirmation.
    int send(int32_t txLength, int sendTries);

    // Asks for one reply and waits for it; 0 with the reply in rxBuffer and rxLength, or -2 when
    // replyTries passes go by without one.
    int awaitReply(int replyTries);

    // Lets the worker deliver a further reply to the same transaction.
    void releaseReply();

    // send, then awaitReply: the exchange of every single-reply command.
    int run(int32_t txLength, int sendTries, int replyTries);

private:
    bool replyArrived();
    void withdrawRequests();

    USB_BURN_CTRL &burnCtrl_;
    FrontEnd &frontEnd_;
    WaitStyle style_;
    uint32_t number_ = 0;
};

} // namespace zq::protocol
