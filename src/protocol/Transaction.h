#pragma once

#include "protocol/CommandFrame.h"
#include "protocol/HandOverWait.h"
#include "usb/UsbBurnCtrl.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace zq
{
class CommandOutput;
}

namespace zq::protocol
{

// One command's exchange with the transfer worker: the frame already in txBuffer goes out, then
// one reply (or, for a command that reports progress, several) comes back in rxBuffer. Runs on the
// window's thread, which lets its events run between the waits. A command's try counts are
// time-outs here (see HandOverWait); a lost device ends a wait at once.
//
// Every request carries a number that the worker stamps on what it hands back, so a confirmation
// or a reply that arrives after its request was given up is never taken for a later one. A wait
// that gives up ends what it asked for: the request is taken back if the worker has not taken it,
// and otherwise the transfer is aborted and the transaction returns only once the worker is free
// again. When the board got a frame whose reply was given up on, the worker drains what the
// board still sends before the next frame goes out.
class Transaction
{
public:
    Transaction(USB_BURN_CTRL &burnCtrl, CommandOutput &output, WaitStyle style,
                HandOverWait &wait = HandOverWait::system());
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // Hands txLength bytes of txBuffer to the worker and waits for it to confirm the write.
    // Ok, or NotSent when sendTries passes go by without the confirmation or the device is lost.
    int send(int32_t txLength, int sendTries);

    // Asks for one reply and waits for it; Ok with the reply in rxBuffer and rxLength, or NoReply
    // when replyTries passes go by without one or the device is lost.
    int awaitReply(int replyTries);

    // Lets the worker deliver a further reply to the same transaction.
    void releaseReply();

    // send, then awaitReply: the exchange of every single-reply command.
    int run(int32_t txLength, int sendTries, int replyTries);

    // How long a transfer given up on may take to end after its abort before the link is taken
    // for broken and the device closed.
    static constexpr auto kAbortGrace = std::chrono::seconds(1);

private:
    enum class Waited { Arrived, Lost, GaveUp };

    int sendFrame(int32_t txLength, int sendTries, bool readAhead);
    int awaitPostedReply(int replyTries);
    uint32_t post(std::atomic<uint8_t> &request, std::atomic<uint32_t> &number);
    Waited waitFor(HandOverWait::Clock::duration timeout, const std::function<bool()> &arrived);
    void logEnd(const char *what, Waited waited, std::chrono::microseconds timeout);
    bool confirmed() const;
    bool replyIn();
    bool staleReply() const;
    uint64_t ownMarkers() const; // the reply markers this command's frame may be answered with
    bool lost() const;
    void abandonSend();
    void abandonRead();
    void endTakenRequest(uint32_t number, USB_BURN_CTRL::Outcome owedWhen);

    USB_BURN_CTRL &burnCtrl_;
    CommandOutput &output_;
    WaitStyle style_;
    HandOverWait &wait_;
    uint32_t sendNumber_ = 0;
    uint32_t readNumber_ = 0; // 0: no read asked for
    uint8_t letter_ = 0;      // the command letter of the frame sent
};

} // namespace zq::protocol
