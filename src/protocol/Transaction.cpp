#include "protocol/Transaction.h"

#include "common/DeveloperLog.h"
#include "frontend/FrontEnd.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"

#include <algorithm>

namespace zq::protocol
{

namespace
{

constexpr auto kAcquire = std::memory_order_acquire;
constexpr auto kRelease = std::memory_order_release;

// A worker whose device is closed ends within microseconds; this only bounds the wait for it.
constexpr unsigned long kWorkerEndGrace = 1000; // ms

// A reply's byte 2 is its command's letter plus this; a connect reply's tells the board's mode.
constexpr uint8_t kReplyMarkerOffset = 0x10;
constexpr uint8_t kConnectLetter = 'K';
constexpr uint8_t kConnectMarkers[] = {';', '[', '+'};

} // namespace

Transaction::Transaction(USB_BURN_CTRL &burnCtrl, CommandOutput &output, WaitStyle style,
                         HandOverWait &wait)
    : burnCtrl_(burnCtrl), output_(output), style_(style), wait_(wait)
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
    return sendFrame(txLength, sendTries, false);
}

int Transaction::awaitReply(int replyTries)
{
    readNumber_ = post(burnCtrl_.rxRequest, burnCtrl_.rxNumber);
    return awaitPostedReply(replyTries);
}

void Transaction::releaseReply()
{
    burnCtrl_.rxDone.store(0, kRelease);
}

// The read is asked for together with the frame: the worker reads as soon as its write has
// returned, in the same pass, as it does for a read requested while it writes. That spares a
// hand-over each way per exchange; the reply's wait still starts when the send is confirmed.
int Transaction::run(int32_t txLength, int sendTries, int replyTries)
{
    const int sent = sendFrame(txLength, sendTries, true);
    return sent != Ok ? sent : awaitPostedReply(replyTries);
}

int Transaction::sendFrame(int32_t txLength, int sendTries, bool readAhead)
{
    burnCtrl_.txDone.store(0, kRelease);
    burnCtrl_.rxDone.store(0, kRelease);
    burnCtrl_.txLength.store(txLength, kRelease);
    letter_ = burnCtrl_.txBuffer[2];
    // The frame's request first: a worker that looks in between must not read before it writes.
    sendNumber_ = post(burnCtrl_.txRequest, burnCtrl_.txNumber);
    readNumber_ = readAhead ? post(burnCtrl_.rxRequest, burnCtrl_.rxNumber) : 0;
    qCDebug(zqProtocol, "frame out: '%c', %d bytes, request %u", letter_, int(txLength),
            unsigned(sendNumber_));
    const auto timeout = timeoutFor(style_, sendTries);
    const Waited waited = waitFor(timeout, [this] { return confirmed(); });
    if (waited == Waited::Arrived) {
        burnCtrl_.txDone.store(0, kRelease);
        return Ok;
    }
    logEnd("send", waited, timeout);
    abandonSend();
    return NotSent;
}

int Transaction::awaitPostedReply(int replyTries)
{
    const auto timeout = timeoutFor(style_, replyTries);
    const auto deadline = wait_.now() + timeout;
    for (;;) {
        const auto left = std::max(deadline - wait_.now(), HandOverWait::Clock::duration::zero());
        const Waited waited = waitFor(left, [this] { return replyIn(); });
        if (waited != Waited::Arrived) {
            logEnd("reply", waited, timeout);
            break;
        }
        const int length = burnCtrl_.rxLength.load(kAcquire);
        const char marker = length >= 3 ? char(burnCtrl_.rxBuffer[2]) : '?';
        if (!staleReply()) {
            qCDebug(zqProtocol, "reply in: '%c', %d bytes, request %u", marker, length,
                    unsigned(readNumber_));
            return Ok;
        }
        qCDebug(zqProtocol, "late reply '%c' of a command given up on: dropped", marker);
        // The board's late answer to a frame given up on: dropped, and our own is asked for.
        burnCtrl_.owedReplies.fetch_and(~USB_BURN_CTRL::owedMarkerBit(burnCtrl_.rxBuffer[2]),
                                        std::memory_order_acq_rel);
        releaseReply();
        readNumber_ = post(burnCtrl_.rxRequest, burnCtrl_.rxNumber);
    }
    abandonRead();
    return NoReply;
}

void Transaction::logEnd(const char *what, Waited waited, std::chrono::microseconds timeout)
{
    if (waited == Waited::Lost)
        qCDebug(zqProtocol, "'%c' %s: device lost", letter_, what);
    else if (output_.stopRequested())
        qCDebug(zqProtocol, "'%c' %s: cancelled", letter_, what);
    else
        qCDebug(zqProtocol, "'%c' %s: timed out after %lld ms", letter_, what,
                static_cast<long long>(timeout.count() / 1000));
}

// The request's number first, then its flag; then the worker is woken.
uint32_t Transaction::post(std::atomic<uint8_t> &request, std::atomic<uint32_t> &number)
{
    const uint32_t next = burnCtrl_.requestNumber.load(kAcquire) + 1;
    burnCtrl_.requestNumber.store(next, kRelease);
    number.store(next, kRelease);
    request.store(1, kRelease);
    burnCtrl_.wakeWorker();
    return next;
}

Transaction::Waited Transaction::waitFor(HandOverWait::Clock::duration timeout,
                                         const std::function<bool()> &arrived)
{
    const auto deadline = wait_.now() + timeout;
    for (;;) {
        if (arrived())
            return Waited::Arrived;
        if (lost()) {
            // A device closed under the worker ends it: let it finish, so that what it handed
            // over on its way out (a failed write still confirms the send) counts, and let news
            // of the removal already queued be shown before the caller reports the loss.
            if (burnCtrl_.isRunning())
                burnCtrl_.wait(kWorkerEndGrace);
            output_.processEvents();
            return arrived() ? Waited::Arrived : Waited::Lost;
        }
        output_.processEvents();
        if (output_.stopRequested())
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
    return burnCtrl_.txDone.load(kAcquire) == 1 &&
           burnCtrl_.sentNumber.load(kAcquire) == sendNumber_;
}

// A reply read for an earlier request was given up on with it: it is dropped, unseen.
bool Transaction::replyIn()
{
    if (burnCtrl_.rxDone.load(kAcquire) != 1)
        return false;
    if (burnCtrl_.replyNumber.load(kAcquire) == readNumber_)
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

// Ends the send given up on, and the read asked for with it. Afterwards the worker is free and
// holds nothing of either; if the board has the frame, the reply it may still send is drained or
// recognised later.
void Transaction::abandonSend()
{
    // A read the worker has taken means its write is over: the read is the one to end.
    if (readNumber_ != 0 && burnCtrl_.rxRequest.exchange(0, std::memory_order_acq_rel) == 0)
        return endTakenRequest(readNumber_, USB_BURN_CTRL::Aborted);
    if (burnCtrl_.txRequest.exchange(0, std::memory_order_acq_rel) == 1)
        return; // the worker never took it: nothing went out
    // A write that went out whole leaves the board with the frame.
    endTakenRequest(sendNumber_, USB_BURN_CTRL::Completed);
}

void Transaction::abandonRead()
{
    if (burnCtrl_.rxRequest.exchange(0, std::memory_order_acq_rel) == 1)
        return;
    // A read that ended before the board answered leaves its reply owed.
    endTakenRequest(readNumber_, USB_BURN_CTRL::Aborted);
}

// The worker took the request: its transfer is aborted, and the transaction waits until the
// worker is back. A reply is owed when the transfer ended as owedWhen.
void Transaction::endTakenRequest(uint32_t number, USB_BURN_CTRL::Outcome owedWhen)
{
    burnCtrl_.abortTransfer(number);
    const bool free = waitFor(kAbortGrace, [&] {
                          return burnCtrl_.finishedNumber.load(kAcquire) == number;
                      }) == Waited::Arrived;
    qCDebug(zqProtocol, "request %u aborted%s", unsigned(number), free ? "" : ", did not end");
    if (!free) {
        // A transfer that does not end when aborted: the link cannot be trusted any more.
        if (burnCtrl_.device)
            burnCtrl_.device->close();
        return;
    }
    if (burnCtrl_.lastTransfer.load(kAcquire) != owedWhen)
        return;
    qCDebug(zqProtocol, "'%c' reply owed: drained before the next frame", letter_);
    burnCtrl_.owedReplies.fetch_or(ownMarkers(), std::memory_order_acq_rel);
    burnCtrl_.drainRequest.store(1, kRelease);
    burnCtrl_.wakeWorker();
}

} // namespace zq::protocol
