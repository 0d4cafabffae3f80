#include "Transaction.h"

#include "FrontEnd.h"
#include "UsbBurnCtrl.h"
#include "UsbDevice.h"

#include <algorithm>

namespace zq::protocol
{

namespace
{

constexpr auto kAcquire = std::memory_order_acquire;
constexpr auto kRelease = std::memory_order_release;

// A worker that ends on a failed transfer does so within microseconds; this only bounds it.
constexpr unsigned long kWorkerEndGrace = 1000; // ms

// A reply's byte 2 is its command's letter plus this; a connect reply's tells the board's mode.
constexpr uint8_t kReplyMarkerOffset = 0x10;
constexpr uint8_t kConnectLetter = 'K';
constexpr uint8_t kConnectMarkers[] = {';', '[', '+'};

} // namespace

Transaction::Transaction(USB_BURN_CTRL &burnCtrl, FrontEnd &frontEnd, WaitStyle style,
                         HandOverWait &wait)
    : burnCtrl_(burnCtrl), frontEnd_(frontEnd), style_(style), wait_(wait)
{
    burnCtrl_.betweenTransactions.store(0, kRelease);
}

Transaction::~Transaction()
{
    burnCtrl_.betweenTransactions.store(1, kRelease);
    burnCtrl_.wakeWorker(); // it may listen for replies still owed
}

int Transaction::send(int32_t txLength, int sendTries)
{
    burnCtrl_.txDone.store(0, kRelease);
    burnCtrl_.rxDone.store(0, kRelease);
    burnCtrl_.txLength.store(txLength, kRelease);
    letter_ = burnCtrl_.txBuffer[2];
    number_ = post(burnCtrl_.txRequest);
    if (waitFor(timeoutFor(style_, sendTries), [this] { return confirmed(); }) == Waited::Arrived) {
        burnCtrl_.txDone.store(0, kRelease);
        return 0;
    }
    abandon(burnCtrl_.txRequest, true);
    return -1;
}

int Transaction::awaitReply(int replyTries)
{
    const auto deadline = wait_.now() + timeoutFor(style_, replyTries);
    number_ = post(burnCtrl_.rxRequest);
    for (;;) {
        const auto left = std::max(deadline - wait_.now(), HandOverWait::Clock::duration::zero());
        if (waitFor(left, [this] { return replyIn(); }) != Waited::Arrived)
            break;
        if (!staleReply())
            return 0;
        // The board's late answer to a frame given up on: dropped, and our own is asked for.
        burnCtrl_.owedReplies.fetch_and(~USB_BURN_CTRL::owedMarkerBit(burnCtrl_.rxBuffer[2]),
                                        std::memory_order_acq_rel);
        releaseReply();
        number_ = post(burnCtrl_.rxRequest);
    }
    abandon(burnCtrl_.rxRequest, false);
    return -2;
}

void Transaction::releaseReply()
{
    burnCtrl_.rxDone.store(0, kRelease);
}

int Transaction::run(int32_t txLength, int sendTries, int replyTries)
{
    const int sent = send(txLength, sendTries);
    return sent != 0 ? sent : awaitReply(replyTries);
}

// The request's number first, then its flag; then the worker is woken.
uint32_t Transaction::post(std::atomic<uint8_t> &request)
{
    const uint32_t number = burnCtrl_.requestNumber.load(kAcquire) + 1;
    burnCtrl_.requestNumber.store(number, kRelease);
    request.store(1, kRelease);
    burnCtrl_.wakeWorker();
    return number;
}

Transaction::Waited Transaction::waitFor(HandOverWait::Clock::duration timeout,
                                         const std::function<bool()> &arrived)
{
    const auto deadline = wait_.now() + timeout;
    for (;;) {
        if (arrived())
            return Waited::Arrived;
        if (lost()) {
            // A worker that found the device gone is on its way out: let it finish, and let news
            // of the removal already queued be shown before the caller reports the loss.
            if (burnCtrl_.rxDone.load(kAcquire) == 2 || burnCtrl_.stopRequest.load(kAcquire) == 1)
                burnCtrl_.wait(kWorkerEndGrace);
            frontEnd_.processEvents();
            return Waited::Lost;
        }
        frontEnd_.processEvents();
        if (frontEnd_.stopRequested())
            return Waited::GaveUp;
        const auto now = wait_.now();
        if (now >= deadline)
            return Waited::GaveUp;
        const auto slice =
            std::min<HandOverWait::Clock::duration>(HandOverWait::kEventSlice, deadline - now);
        wait_.block(burnCtrl_, slice, [&] { return arrived() || lost(); });
    }
}

bool Transaction::confirmed() const
{
    return burnCtrl_.txDone.load(kAcquire) == 1 && burnCtrl_.sentNumber.load(kAcquire) == number_;
}

// A reply read for an earlier request was given up on with it: it is dropped, unseen.
bool Transaction::replyIn()
{
    if (burnCtrl_.rxDone.load(kAcquire) != 1)
        return false;
    if (burnCtrl_.replyNumber.load(kAcquire) == number_)
        return true;
    releaseReply();
    return false;
}

// Only a reply with the marker of an owed command, while we wait for another command's, can be
// told apart; the same command's late reply looks like our own and is taken.
bool Transaction::staleReply() const
{
    if (burnCtrl_.rxLength.load(kAcquire) < 3)
        return false;
    const uint64_t marker = USB_BURN_CTRL::owedMarkerBit(burnCtrl_.rxBuffer[2]);
    return (ownMarkers() & marker) == 0 && (burnCtrl_.owedReplies.load(kAcquire) & marker) != 0;
}

uint64_t Transaction::ownMarkers() const
{
    if (letter_ != kConnectLetter)
        return USB_BURN_CTRL::owedMarkerBit(uint8_t(letter_ + kReplyMarkerOffset));
    uint64_t markers = 0;
    for (const uint8_t marker : kConnectMarkers)
        markers |= USB_BURN_CTRL::owedMarkerBit(marker);
    return markers;
}

// The worker ended on a failed transfer, or the device was closed (unplugged, or given up).
bool Transaction::lost() const
{
    if (burnCtrl_.rxDone.load(kAcquire) == 2)
        return true;
    return burnCtrl_.device != nullptr && !burnCtrl_.device->isOpen();
}

// Ends the request given up on. Afterwards the worker is free and holds nothing of it; if the
// board has the frame, the reply it may still send is drained or recognised later.
void Transaction::abandon(std::atomic<uint8_t> &request, bool sending)
{
    if (request.exchange(0, std::memory_order_acq_rel) == 1)
        return; // the worker never took it: nothing went out
    burnCtrl_.abortTransfer(number_);
    const bool free = waitFor(kAbortGrace, [this] {
                          return burnCtrl_.finishedNumber.load(kAcquire) == number_;
                      }) == Waited::Arrived;
    if (!free) {
        // A transfer that does not end when aborted: the link cannot be trusted any more.
        if (burnCtrl_.device)
            burnCtrl_.device->close();
        return;
    }
    const auto outcome = burnCtrl_.lastTransfer.load(kAcquire);
    // A write that went out, or a read that ended before the board answered: a reply is owed.
    const bool replyOwed =
        sending ? outcome == USB_BURN_CTRL::Completed : outcome == USB_BURN_CTRL::Aborted;
    if (!replyOwed)
        return;
    burnCtrl_.owedReplies.fetch_or(ownMarkers(), std::memory_order_acq_rel);
    burnCtrl_.drainRequest.store(1, kRelease);
    burnCtrl_.wakeWorker();
}

} // namespace zq::protocol
