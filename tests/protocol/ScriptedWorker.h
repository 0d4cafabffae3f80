#pragma once

#include "usb/UsbBurnCtrl.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace zq::test
{

// Plays the transfer worker's half of the hand-over on a real USB_BURN_CTRL, without its run loop
// or any device: it takes each frame the window's thread offers and answers each read request
// from a script. A transfer it does not finish stays pending until the window's thread aborts
// it, as on a real pipe. Frames and read requests are recorded for the test to inspect.
class ScriptedWorker
{
public:
    explicit ScriptedWorker(USB_BURN_CTRL &ctrl) : ctrl_(ctrl), thread_([this] { loop(); }) {}

    ~ScriptedWorker()
    {
        stop_.store(true);
        thread_.join();
    }

    ScriptedWorker(const ScriptedWorker &) = delete;
    ScriptedWorker &operator=(const ScriptedWorker &) = delete;

    // When false, frames are taken but their write is never confirmed.
    void confirmSends(bool confirm) { confirm_.store(confirm); }

    // The next read request is answered with bytes, at once or after the programmer took
    // delayMs to answer.
    void reply(const QByteArray &bytes, int delayMs = 0)
    {
        push({Answer::Reply, bytes, {}, delayMs});
    }
    // The next read request is never answered.
    void stayQuiet() { push({Answer::Quiet, {}, {}}); }
    // The next read request ends as a read on a lost device does (rxDone = 2).
    void loseDevice() { push({Answer::Lost, {}, {}}); }
    // The next read request is answered only after the window gave up on it: the reply waits in
    // the pipe, where a drain drops it, or else the next read finds it.
    void replyLate(const QByteArray &bytes) { push({Answer::Late, bytes, {}}); }
    // As replyLate, but the reply comes only after the drain has found the pipe quiet.
    void replyAfterDrain(const QByteArray &bytes) { push({Answer::AfterDrain, bytes, {}}); }
    // The next read request first gets a reply stamped with an earlier transaction's number;
    // once the window has dropped it (rxDone back to 0), the right reply follows.
    void replyAfterStray(const QByteArray &stray, const QByteArray &bytes)
    {
        push({Answer::AfterStray, bytes, stray});
    }

    QList<QByteArray> frames() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    int readRequests() const { return readRequests_.load(); }
    int drained() const { return drained_.load(); }
    // In a transfer that only an abort ends, and not yet aborted.
    bool hanging() const
    {
        const uint32_t number = hangingOn_.load();
        return number != 0 && ctrl_.abortedNumber.load() != number;
    }
    // True when the stray reply was dropped by the window (rxDone cleared) before the right one.
    bool strayDropped() const { return strayDropped_.load(); }

private:
    enum class Answer { Reply, Quiet, Lost, Late, AfterDrain, AfterStray };
    struct Step {
        Answer answer;
        QByteArray bytes;
        QByteArray stray;
        int delayMs = 0;
    };

    void push(const Step &step)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        script_.push_back(step);
    }

    Step next()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (script_.empty())
            return {Answer::Quiet, {}, {}};
        Step step = script_.front();
        script_.pop_front();
        return step;
    }

    void loop()
    {
        while (!stop_.load()) {
            if (ctrl_.drainRequest.exchange(0) == 1)
                drain();
            if (ctrl_.txRequest.exchange(0) == 1)
                takeFrame();
            else if (ctrl_.rxRequest.exchange(0) == 1)
                serveReadAfterItsFrame();
            else
                std::this_thread::yield();
        }
    }

    void finish(uint32_t number, USB_BURN_CTRL::Outcome outcome)
    {
        ctrl_.lastTransfer.store(outcome);
        ctrl_.finishedNumber.store(number);
        ctrl_.wakeWindow();
    }

    // A transfer the board never finishes: it ends when the window's thread aborts it.
    void hangUntilAborted(uint32_t number)
    {
        hangingOn_.store(number);
        while (ctrl_.abortedNumber.load() != number && !stop_.load())
            std::this_thread::yield();
        hangingOn_.store(0);
        finish(number, USB_BURN_CTRL::Aborted);
    }

    void drain()
    {
        if (hasLate_.exchange(false)) {
            ++drained_;
            ctrl_.owedReplies.fetch_and(~USB_BURN_CTRL::owedMarkerBit(uint8_t(late_.at(2))));
        }
    }

    void takeFrame()
    {
        const uint32_t number = ctrl_.txNumber.load();
        const int32_t length = ctrl_.txLength.load();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frames_ << QByteArray(reinterpret_cast<const char *>(ctrl_.txBuffer), length);
        }
        if (!confirm_.load())
            return hangUntilAborted(number);
        ctrl_.sentNumber.store(number);
        ctrl_.txDone.store(1);
        finish(number, USB_BURN_CTRL::Completed);
    }

    // As the worker does: a read seen before the frame it was asked for with waits for it.
    void serveReadAfterItsFrame()
    {
        if (ctrl_.txRequest.load() == 1)
            ctrl_.rxRequest.store(1);
        else
            serveRead();
    }

    void serveRead()
    {
        const uint32_t number = ctrl_.rxNumber.load();
        ++readRequests_;
        // What the pipe still held comes first.
        if (hasLate_.exchange(false) || pastDrain_.exchange(false))
            return deliver(late_, number);
        const Step step = next();
        switch (step.answer) {
        case Answer::Reply:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
            deliver(step.bytes, number);
            break;
        case Answer::Quiet:
            hangUntilAborted(number);
            break;
        case Answer::Lost:
            ctrl_.replyNumber.store(number);
            ctrl_.rxDone.store(2);
            finish(number, USB_BURN_CTRL::Failed);
            break;
        case Answer::Late:
        case Answer::AfterDrain:
            hangUntilAborted(number);
            late_ = step.bytes;
            (step.answer == Answer::Late ? hasLate_ : pastDrain_).store(true);
            break;
        case Answer::AfterStray:
            deliver(step.stray, number - 1);
            waitForDrop();
            deliver(step.bytes, number);
            break;
        }
    }

    void waitForDrop()
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (ctrl_.rxDone.load() != 0 && !stop_.load()) {
            if (std::chrono::steady_clock::now() > giveUp)
                return;
            std::this_thread::yield();
        }
        strayDropped_.store(ctrl_.rxDone.load() == 0);
    }

    void deliver(const QByteArray &bytes, uint32_t number)
    {
        std::memcpy(ctrl_.rxBuffer, bytes.constData(), size_t(bytes.size()));
        ctrl_.rxLength.store(bytes.size());
        ctrl_.replyNumber.store(number);
        ctrl_.rxDone.store(1);
        finish(number, USB_BURN_CTRL::Completed);
    }

    USB_BURN_CTRL &ctrl_;
    mutable std::mutex mutex_;
    std::deque<Step> script_;
    QList<QByteArray> frames_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> confirm_{true};
    std::atomic<int> readRequests_{0};
    std::atomic<bool> strayDropped_{false};
    std::atomic<int> drained_{0};
    std::atomic<uint32_t> hangingOn_{0};
    QByteArray late_;
    std::atomic<bool> hasLate_{false};
    std::atomic<bool> pastDrain_{false};
    std::thread thread_;
};

} // namespace zq::test
