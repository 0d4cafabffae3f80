#pragma once

#include "common/ThreadLatency.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class UsbDevice;

// The transfer worker: moves one frame out or one packet in per request, on its own thread.
// The window's thread hands requests over through the byte flags below, data first and flag
// last, and wakes the worker; the worker answers through the flags and wakes the window's thread.
// Each side sleeps until the other has something for it: an idle worker costs no CPU, and a
// waiting window wakes the moment its flag is set. No lock guards the data; the two small locks
// below only carry the wake-ups.
class USB_BURN_CTRL : public QThread
{
    Q_OBJECT

public:
    static constexpr int kTxBufferSize = 4160;
    static constexpr int kRxBufferSize = 1024;

    // How long the worker listens for replies nobody is waiting for any more before the next
    // frame goes out (see drainRequest).
    static constexpr auto kDrainQuiet = std::chrono::milliseconds(100);
    // After that an idle worker goes on listening, in reads this long (a request waits for the one
    // in progress), for kOwedReplyLimit after the last reply given up on: longer than the longest
    // wait for a reply.
    static constexpr auto kIdleListen = std::chrono::milliseconds(20);
    static constexpr auto kOwedReplyLimit = std::chrono::seconds(30);

    // What the worker's last transfer came to (lastTransfer).
    enum Outcome : uint8_t { Completed = 0, Aborted = 1, Failed = 2 };

    explicit USB_BURN_CTRL(QObject *parent = nullptr);
    ~USB_BURN_CTRL() override;

    uint8_t txBuffer[kTxBufferSize] = {};
    uint8_t rxBuffer[kRxBufferSize] = {};
    std::atomic<int32_t> txLength{0};
    std::atomic<int32_t> rxLength{0};
    std::atomic<uint8_t> txRequest{0};
    std::atomic<uint8_t> txDone{0};
    std::atomic<uint8_t> rxRequest{0};
    std::atomic<uint8_t> rxDone{0}; // 1: reply in rxBuffer; 2: read failed, device lost
    std::atomic<uint8_t> stopRequest{0};

    // Every request (a send or a read) gets a new number from requestNumber, stored in txNumber
    // or rxNumber before its flag is set. The worker takes the number with the request and
    // stamps what it hands back with it: sentNumber before txDone, replyNumber before rxDone, and
    // finishedNumber with lastTransfer once it has returned from the transfer, whatever came of
    // it. So a confirmation or a reply that arrives after its request was given up is told apart
    // from the one a later request waits for, and the window's thread knows when the worker is
    // free again.
    std::atomic<uint32_t> requestNumber{0}; // the last number handed out
    std::atomic<uint32_t> txNumber{0};
    std::atomic<uint32_t> rxNumber{0};
    std::atomic<uint32_t> sentNumber{0};
    std::atomic<uint32_t> replyNumber{0};
    std::atomic<uint32_t> finishedNumber{0};
    std::atomic<uint8_t> lastTransfer{Completed};
    // The number of the last request the window's thread gave up on (abortTransfer).
    std::atomic<uint32_t> abortedNumber{0};

    // Set by the window's thread when a frame reached the board but the wait for its reply was
    // given up: before it sends anything else, the worker reads and drops whatever the board
    // still sends, until the pipe has been quiet for kDrainQuiet, so that the link is never one
    // reply behind.
    std::atomic<uint8_t> drainRequest{0};

    // The reply markers (byte 2 of a reply, as owedMarkerBit gives them) of frames that reached
    // the board but whose replies were given up on and not seen since. A transaction waiting for
    // another command's reply drops a packet with one of these markers instead of taking it for
    // its own, and the worker, while idle, keeps listening for them and drops what it hears.
    std::atomic<uint64_t> owedReplies{0};
    // 1 while no transaction is under way on the window's thread: only then may the idle worker
    // listen, so it never takes a reply a transaction is about to ask for.
    std::atomic<uint8_t> betweenTransactions{1};

    static uint64_t owedMarkerBit(uint8_t marker)
    {
        return marker >= 0x20 && marker < 0x60 ? uint64_t(1) << (marker - 0x20) : 0;
    }

    UsbDevice *device = nullptr; // shared with the window, not owned

    // The window's side of the wake-ups. wakeWorker() after a request, drainRequest or
    // stopRequest has been set; waitForWorker() returns as soon as ready() holds or the worker
    // has signalled, and after at most limit otherwise.
    void wakeWorker();
    void waitForWorker(std::chrono::steady_clock::duration limit,
                       const std::function<bool()> &ready);

    // The worker's side: after it has set a flag the window's thread may be waiting for.
    void wakeWindow();

    // Ends the transfer that carries request number (a wait that gave up on it); the device
    // stays open. Any thread.
    void abortTransfer(uint32_t number);

    // Closes the device (ending a transfer the board never finishes) and returns once the worker
    // has stopped. Window's thread.
    void stopWorker();

protected:
    void run() override;

private:
    bool hasWork() const;
    bool hasRequest() const;
    void waitForWork();
    bool sendFrame();
    bool serveRead();
    bool receivePacket();
    bool drainPipe();
    bool listening() const;
    bool listenOnce();
    bool dropPacket(int received, const uint8_t *packet);
    void finish(uint32_t number, Outcome outcome, bool wake = true);

    zq::common::CoreFollower follower_; // the worker follows the window's thread
    std::mutex wakeMutex_;
    std::condition_variable workerWake_;
    std::condition_variable windowWake_;
    uint64_t windowSignals_ = 0;                        // wakeMutex_ held
    std::chrono::steady_clock::time_point listenUntil_; // worker's thread only
};
