#include "usb/UsbBurnCtrl.h"

#include "common/DeveloperLog.h"
#include "common/ThreadLatency.h"
#include "usb/UsbDevice.h"

// QThread tells the end of run() to isRunning() and wait() through Qt's own lock, which the
// thread sanitizer cannot see when Qt itself is not instrumented. Without these marks it takes
// the destructor's writes, and those of the next object in the same memory, for races with the
// worker's last stores. They compile to nothing in other builds.

#if defined(__SANITIZE_THREAD__)
#define ZQ_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZQ_THREAD_SANITIZER 1
#endif
#endif

#if defined(ZQ_THREAD_SANITIZER)
#include <sanitizer/tsan_interface.h>
#endif

namespace
{

constexpr auto kAcquire = std::memory_order_acquire;
constexpr auto kRelease = std::memory_order_release;

// Last thing the thread does with object.
inline void announceThreadEnd([[maybe_unused]] void *object)
{
#if defined(ZQ_THREAD_SANITIZER)
    __tsan_release(object);
#endif
}

// After the owner has seen the thread end.
inline void observeThreadEnd([[maybe_unused]] void *object)
{
#if defined(ZQ_THREAD_SANITIZER)
    __tsan_acquire(object);
#endif
}

// A board that keeps talking after it was given up on is still drained no longer than this; the
// next command then sorts out what it hears.
constexpr auto kDrainLimit = std::chrono::seconds(5);

} // namespace

USB_BURN_CTRL::USB_BURN_CTRL(QObject *parent) : QThread(parent) {}

USB_BURN_CTRL::~USB_BURN_CTRL()
{
    stopWorker();
    observeThreadEnd(this);
}

void USB_BURN_CTRL::stopWorker()
{
    // A read the programmer never answers would hold the worker for ever: end it first.
    if (isRunning() && device)
        device->close();
    while (isRunning()) {
        stopRequest.store(1, kRelease);
        wakeWorker();
        wait(10);
    }
    wait();
}

void USB_BURN_CTRL::wakeWorker()
{
    follower_.followCaller();
    // Taking the lock between the flag's store and the notification means the worker is either
    // still to test its flags or already asleep, never in between: no wake-up is lost.
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
    }
    workerWake_.notify_one();
}

void USB_BURN_CTRL::wakeWindow()
{
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        ++windowSignals_;
    }
    windowWake_.notify_all();
}

void USB_BURN_CTRL::waitForWorker(std::chrono::steady_clock::duration limit,
                                  const std::function<bool()> &ready)
{
    std::unique_lock<std::mutex> lock(wakeMutex_);
    const uint64_t seen = windowSignals_;
    windowWake_.wait_for(lock, limit, [&] { return windowSignals_ != seen || ready(); });
}

void USB_BURN_CTRL::abortTransfer(uint32_t number)
{
    abortedNumber.store(number, kRelease);
    if (device)
        device->abortTransfer(number);
}

bool USB_BURN_CTRL::hasWork() const
{
    return stopRequest.load(kAcquire) == 1 || hasRequest() || listening();
}

bool USB_BURN_CTRL::hasRequest() const
{
    return txRequest.load(kAcquire) == 1 || rxRequest.load(kAcquire) == 1 ||
           drainRequest.load(kAcquire) == 1;
}

void USB_BURN_CTRL::waitForWork()
{
    std::unique_lock<std::mutex> lock(wakeMutex_);
    workerWake_.wait(lock, [this] { return hasWork(); });
}

void USB_BURN_CTRL::finish(uint32_t number, Outcome outcome, bool wake)
{
    lastTransfer.store(outcome, kRelease);
    finishedNumber.store(number, kRelease);
    if (wake)
        wakeWindow();
}

// False when the write failed: the device is closed and the worker ends at its next pass.
bool USB_BURN_CTRL::sendFrame()
{
    // The request was taken by an exchange, so its number and length, stored before the flag,
    // are the ones read here.
    const uint32_t number = txNumber.load(kAcquire);
    const int32_t length = txLength.load(kAcquire);
    // A read already asked for may go out with the frame; it is still taken only after the write.
    const uint32_t readAhead = rxRequest.load(kAcquire) == 1 ? rxNumber.load(kAcquire) : 0;
    const int written = device->write(txBuffer, length, {number, {}}, {readAhead, {}});
    const Outcome outcome = written == 1                           ? Completed
                            : written == zq::usb::kTransferAborted ? Aborted
                                                                   : Failed;
    if (outcome == Failed) {
        qCDebug(zqUsb, "write of request %u failed: the device is lost", unsigned(number));
        stopRequest.store(1, kRelease);
    } else if (outcome == Aborted) {
        qCDebug(zqUsb, "write of request %u aborted", unsigned(number));
    }
    // Set after a failure too: the window's thread waits for the call to return, not for it to
    // succeed; the missing reply tells it the rest.
    sentNumber.store(number, kRelease);
    txDone.store(1, kRelease);
    // With the read already asked for, the window's thread is woken once, by the reply: that
    // halves the hand-overs of an exchange. It still sees txDone at its next look.
    const bool readNext = outcome == Completed && rxRequest.load(kAcquire) == 1;
    finish(number, outcome, !readNext);
    return outcome != Failed;
}

// False when the device is lost and the worker must end.
bool USB_BURN_CTRL::receivePacket()
{
    const uint32_t number = rxNumber.load(kAcquire);
    const int received = device->read(rxBuffer, {number, {}});
    if (received == zq::usb::kTransferAborted) {
        qCDebug(zqUsb, "read of request %u aborted", unsigned(number));
        finish(number, Aborted); // given up by the window's thread: nothing to hand back
        return true;
    }
    if (received < 0) {
        qCDebug(zqUsb, "read of request %u failed: the device is lost", unsigned(number));
        replyNumber.store(number, kRelease);
        rxDone.store(2, kRelease);
        finish(number, Failed);
        return false;
    }
    // Length, then number, then the flag: whoever sees its own number also sees this length.
    rxLength.store(received, kRelease);
    replyNumber.store(number, kRelease);
    rxDone.store(1, kRelease);
    finish(number, Completed);
    return true;
}

// False when the device is lost and the worker must end.
bool USB_BURN_CTRL::serveRead()
{
    // A read asked for with its frame can be seen before the frame when the two are posted
    // between this pass's looks at them: the frame it answers goes out first, at the next pass.
    if (txRequest.load(kAcquire) == 1) {
        rxRequest.store(1, kRelease);
        return true;
    }
    return receivePacket();
}

// Reads and drops what the board still sends for frames whose replies were given up on.
// False when the device is lost meanwhile.
bool USB_BURN_CTRL::drainPipe()
{
    const auto now = std::chrono::steady_clock::now();
    listenUntil_ = now + kOwedReplyLimit;
    uint8_t scrap[UsbDevice::kReadSize];
    while (stopRequest.load(kAcquire) != 1 &&
           std::chrono::steady_clock::now() < now + kDrainLimit) {
        const int received = device->read(scrap, {0, kDrainQuiet});
        if (received == zq::usb::kTransferAborted)
            return true; // quiet
        if (!dropPacket(received, scrap))
            return false;
    }
    return true;
}

bool USB_BURN_CTRL::listening() const
{
    return betweenTransactions.load(kAcquire) == 1 &&
           std::chrono::steady_clock::now() < listenUntil_;
}

// One idle read for replies still owed; false when the device is lost meanwhile.
bool USB_BURN_CTRL::listenOnce()
{
    uint8_t scrap[UsbDevice::kReadSize];
    const int received = device->read(scrap, {0, kIdleListen});
    return received == zq::usb::kTransferAborted || dropPacket(received, scrap);
}

// A packet nobody waits for; false when the read failed instead and the device is lost.
bool USB_BURN_CTRL::dropPacket(int received, const uint8_t *packet)
{
    if (received < 0) {
        rxDone.store(2, kRelease);
        wakeWindow();
        return false;
    }
    qCDebug(zqUsb, "dropped a packet of %d bytes nobody waits for", received);
    if (received >= 3)
        owedReplies.fetch_and(~owedMarkerBit(packet[2]), std::memory_order_acq_rel);
    return true;
}

void USB_BURN_CTRL::run()
{
    zq::common::requestShortTimeSlices();
    follower_.attachCurrentThread();
    stopRequest.store(0, kRelease);
    for (;;) {
        waitForWork();
        if (stopRequest.load(kAcquire) == 1)
            break;
        if (!hasRequest()) { // woken only to listen for replies still owed
            if (!listenOnce())
                break;
            continue;
        }
        if (drainRequest.exchange(0, std::memory_order_acq_rel) == 1 && !drainPipe())
            break;
        // Each request is taken with an exchange, so that a request the window's thread takes
        // back at the same moment is carried out by exactly one side: never, or by the worker.
        if (txRequest.exchange(0, std::memory_order_acq_rel) == 1)
            sendFrame();
        // A receive request already waiting when the write returns is served in this pass.
        if (rxRequest.exchange(0, std::memory_order_acq_rel) == 1 && !serveRead())
            break;
    }
    stopRequest.store(0, kRelease);
    follower_.detachCurrentThread();
    wakeWindow();
    announceThreadEnd(this);
}
