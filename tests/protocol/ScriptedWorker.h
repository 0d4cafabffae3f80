#pragma once

#include "UsbBurnCtrl.h"

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
// from a script. Frames and read requests are recorded for the test to inspect.
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
    // The next read request is answered only after the window gave up on it: the reply comes
    // when the next frame is offered, before that frame's write is confirmed, just as a worker
    // blocked in its read would deliver it.
    void replyLate(const QByteArray &bytes) { push({Answer::Late, bytes, {}}); }
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
    // True when the stray reply was dropped by the window (rxDone cleared) before the right one.
    bool strayDropped() const { return strayDropped_.load(); }

private:
    enum class Answer { Reply, Quiet, Lost, Late, AfterStray };
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
            if (ctrl_.txRequest.load() == 1)
                takeFrame();
            else if (ctrl_.rxRequest.load() == 1)
                serveRead();
            else
                std::this_thread::yield();
        }
    }

    void takeFrame()
    {
        const int32_t length = ctrl_.txLength.load();
        ctrl_.txRequest.store(0);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frames_ << QByteArray(reinterpret_cast<const char *>(ctrl_.txBuffer), length);
        }
        if (hasLate_) {
            deliver(late_, lateNumber_);
            hasLate_ = false;
        }
        if (confirm_.load())
            ctrl_.txDone.store(1);
    }

    void serveRead()
    {
        const uint32_t number = ctrl_.requestNumber.load();
        ctrl_.rxRequest.store(0);
        ++readRequests_;
        const Step step = next();
        switch (step.answer) {
        case Answer::Reply:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
            deliver(step.bytes, number);
            break;
        case Answer::Quiet:
            break;
        case Answer::Lost:
            ctrl_.replyNumber.store(number);
            ctrl_.rxDone.store(2);
            break;
        case Answer::Late:
            late_ = step.bytes;
            lateNumber_ = number;
            hasLate_ = true;
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
    }

    USB_BURN_CTRL &ctrl_;
    mutable std::mutex mutex_;
    std::deque<Step> script_;
    QList<QByteArray> frames_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> confirm_{true};
    std::atomic<int> readRequests_{0};
    std::atomic<bool> strayDropped_{false};
    QByteArray late_;
    uint32_t lateNumber_ = 0;
    bool hasLate_ = false;
    std::thread thread_;
};

} // namespace zq::test
