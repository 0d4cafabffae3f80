#pragma once

// A scripted channel and transport for the device record and the worker: packets are queued by
// the test, writes succeed or fail as told, and every call and the release are counted.

#include "usb/UsbTransport.h"

#include <QByteArray>
#include <QMap>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class FakeChannel : public zq::usb::UsbChannel
{
public:
    struct Counters {
        std::atomic<int> released{0};
        std::atomic<int> releasedDuringTransfer{0};
    };

    FakeChannel(PipeInfo pipes, std::shared_ptr<Counters> counters)
        : pipes_(pipes), counters_(std::move(counters))
    {
    }

    ~FakeChannel() override
    {
        if (inFlight_.load() != 0)
            ++counters_->releasedDuringTransfer;
        ++counters_->released;
    }

    PipeInfo pipes() const override { return pipes_; }

    // While writes are held, a write blocks until released, aborted or cancelled; an abort comes
    // too late for it when told so (the frame has gone out).
    int write(const uint8_t *data, int32_t count, zq::usb::TransferTicket ticket) override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ++writes;
        order += 'W';
        written.append(reinterpret_cast<const char *>(data), count);
        ++inFlight_;
        pendingTicket_ = ticket.number;
        changed_.wait(lock, [&] { return cancelled_ || aborted(ticket) || !holdWrites_; });
        pendingTicket_ = 0;
        --inFlight_;
        if (cancelled_ || failWrites_)
            return zq::usb::kTransferFailed;
        if (aborted(ticket) && !abortComesLate_)
            return zq::usb::kTransferAborted;
        if (!answers_.empty()) {
            packets_.push_back(answers_.front());
            answers_.pop_front();
            changed_.notify_all();
        }
        return count;
    }

    // Waits for a queued packet, or the ticket's time-out; a null QByteArray in the queue stands
    // for a failed transfer.
    int read(uint8_t *buffer, int capacity, zq::usb::TransferTicket ticket) override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ++reads;
        order += 'R';
        lastReadCapacity = capacity;
        ++inFlight_;
        pendingTicket_ = ticket.number;
        const auto ready = [&] { return cancelled_ || aborted(ticket) || !packets_.empty(); };
        const bool timedOut =
            ticket.timeout.count() > 0 && !changed_.wait_for(lock, ticket.timeout, ready);
        if (ticket.timeout.count() == 0)
            changed_.wait(lock, ready);
        pendingTicket_ = 0;
        --inFlight_;
        if (cancelled_)
            return zq::usb::kTransferFailed;
        if (timedOut || aborted(ticket))
            return zq::usb::kTransferAborted;
        const QByteArray packet = packets_.front();
        packets_.pop_front();
        if (packet.isNull())
            return zq::usb::kTransferFailed;
        const int length = std::min(capacity, int(packet.size()));
        std::copy_n(packet.constData(), length, reinterpret_cast<char *>(buffer));
        return length;
    }

    // The reads announced with a frame, in order.
    void expectRead(zq::usb::TransferTicket ticket) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        expectedReads_.push_back(ticket.number);
    }

    void abort(uint32_t ticket) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abortedTicket_ = ticket;
        ++aborts;
        changed_.notify_all();
    }

    void cancel() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        ++cancels;
        changed_.notify_all();
    }

    void abortComesLate(bool late)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abortComesLate_ = late;
    }
    void queuePacket(const QByteArray &packet)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        packets_.push_back(packet);
        changed_.notify_all();
    }
    void queueReadFailure() { queuePacket(QByteArray()); }
    // The board answers the next frame written with packet, as a board does: never before it.
    void answerNextFrame(const QByteArray &packet)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_.push_back(packet);
    }
    void setFailWrites(bool fail)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failWrites_ = fail;
    }
    // While held, a write blocks until released or cancelled.
    void holdWrites(bool hold)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        holdWrites_ = hold;
        changed_.notify_all();
    }
    bool inTransfer() const { return inFlight_.load() != 0; }
    // The ticket of the transfer in progress, 0 for none (or one that carries no ticket).
    uint32_t pendingTicket() const { return pendingTicket_.load(); }
    std::string transferOrder()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return order;
    }
    std::vector<uint32_t> expectedReads()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return expectedReads_;
    }
    QByteArray writtenBytes()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return written;
    }

    std::atomic<int> writes{0};
    std::atomic<int> reads{0};
    std::atomic<int> cancels{0};
    std::atomic<int> aborts{0};
    std::atomic<int> lastReadCapacity{0};

private:
    bool aborted(zq::usb::TransferTicket ticket) const
    {
        return ticket.number != 0 && ticket.number == abortedTicket_;
    }

    PipeInfo pipes_;
    std::shared_ptr<Counters> counters_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QByteArray> packets_;
    std::deque<QByteArray> answers_;
    QByteArray written;
    std::string order; // 'W' per write, 'R' per read, as they began
    std::vector<uint32_t> expectedReads_;
    bool cancelled_ = false;
    bool failWrites_ = false;
    bool holdWrites_ = false;
    bool abortComesLate_ = false;
    uint32_t abortedTicket_ = 0;
    std::atomic<int> inFlight_{0};
    std::atomic<uint32_t> pendingTicket_{0};
};

class FakeTransport : public zq::usb::UsbTransport
{
public:
    // The next open of path hands out a fresh channel with these pipes.
    void plug(const QString &path, zq::usb::UsbChannel::PipeInfo pipes = {3, 0x81, 0x01})
    {
        plugged_[path] = pipes;
    }
    void unplug(const QString &path) { plugged_.remove(path); }
    void refuse(const QString &path, zq::usb::OpenError error) { refused_[path] = error; }

    QStringList findProgrammers() override { return plugged_.keys(); }

    std::shared_ptr<zq::usb::UsbChannel> openChannel(const QString &path,
                                                     zq::usb::OpenError *error) override
    {
        ++opens;
        if (refused_.contains(path) || !plugged_.contains(path)) {
            *error = refused_.value(path, zq::usb::OpenError::NotFound);
            return nullptr;
        }
        *error = zq::usb::OpenError::None;
        auto channel = std::make_shared<FakeChannel>(plugged_[path], counters);
        lastChannel_ = channel;
        return channel;
    }

    void setDeviceListener(DeviceListener listener) override { listener_ = std::move(listener); }

    std::shared_ptr<FakeChannel::Counters> counters = std::make_shared<FakeChannel::Counters>();
    int opens = 0;

    // The channel of the last successful open while someone still holds it; the fake keeps no
    // reference, so the release count is the device's doing.
    std::shared_ptr<FakeChannel> channel() const { return lastChannel_.lock(); }

private:
    QMap<QString, zq::usb::UsbChannel::PipeInfo> plugged_;
    QMap<QString, zq::usb::OpenError> refused_;
    DeviceListener listener_;
    std::weak_ptr<FakeChannel> lastChannel_;
};
