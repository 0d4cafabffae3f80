#include "usb/UsbDevice.h"

#include "common/DeveloperLog.h"
#include "usb/UsbTransport.h"

#include <algorithm>

using zq::usb::OpenError;
using zq::usb::UsbChannel;

UsbDevice::UsbDevice(std::shared_ptr<zq::usb::UsbTransport> transport)
    : transport_(std::move(transport))
{
}

UsbDevice::~UsbDevice()
{
    close();
}

bool UsbDevice::open(const QString &path)
{
    // Reopening in place must not leave the previous device's handles behind.
    close();

    OpenError error = OpenError::None;
    std::shared_ptr<UsbChannel> channel = transport_->openChannel(path, &error);
    lastOpenError_ = channel ? OpenError::None : error;
    if (!channel) {
        qCDebug(zqUsb, "open failed: %s, error %d", qPrintable(path), int(error));
        return false;
    }

    const UsbChannel::PipeInfo pipes = channel->pipes();
    std::lock_guard<std::mutex> lock(mutex_);
    channel_ = std::move(channel);
    speed_ = pipes.speed;
    inPipe_ = pipes.inPipe;
    outPipe_ = pipes.outPipe;
    devicePath_ = path;
    open_.store(true, std::memory_order_release);
    qCDebug(zqUsb, "opened %s", qPrintable(path));
    return true;
}

bool UsbDevice::isOpen() const
{
    return open_.load(std::memory_order_acquire);
}

int UsbDevice::close()
{
    std::shared_ptr<UsbChannel> channel;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_.store(false, std::memory_order_release);
        channel.swap(channel_);
    }
    // A transfer still running on the worker holds its own reference: cancelling ends it, and
    // the channel releases its handles when that reference goes, not here.
    if (channel) {
        qCDebug(zqUsb, "closed %s", qPrintable(devicePath_));
        channel->cancel();
    }
    return 1;
}

int UsbDevice::write(const uint8_t *data, int32_t count)
{
    return write(data, count, zq::usb::TransferTicket{});
}

int UsbDevice::read(uint8_t *buffer)
{
    return read(buffer, zq::usb::TransferTicket{});
}

int UsbDevice::write(const uint8_t *data, int32_t count, zq::usb::TransferTicket ticket,
                     zq::usb::TransferTicket readAhead)
{
    const std::shared_ptr<UsbChannel> channel = currentChannel();
    if (!channel)
        return zq::usb::kTransferFailed;
    if (readAhead.number != 0)
        channel->expectRead(readAhead);
    const int written = channel->write(data, count, ticket);
    if (written == zq::usb::kTransferAborted)
        return written;
    if (written < 0) {
        closeAfterFailure(channel);
        return zq::usb::kTransferFailed;
    }
    return 1;
}

int UsbDevice::read(uint8_t *buffer, zq::usb::TransferTicket ticket)
{
    const std::shared_ptr<UsbChannel> channel = currentChannel();
    if (!channel)
        return zq::usb::kTransferFailed;
    const int received = channel->read(buffer, kReadSize, ticket);
    if (received == zq::usb::kTransferAborted)
        return received;
    if (received < 0) {
        closeAfterFailure(channel);
        return zq::usb::kTransferFailed;
    }
    return std::min(received, kReadSize);
}

void UsbDevice::abortTransfer(uint32_t ticket)
{
    if (const std::shared_ptr<UsbChannel> channel = currentChannel())
        channel->abort(ticket);
}

QString UsbDevice::devicePath() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return devicePath_;
}

std::shared_ptr<UsbChannel> UsbDevice::currentChannel() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return channel_;
}

void UsbDevice::closeAfterFailure(const std::shared_ptr<UsbChannel> &failed)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (channel_ != failed)
            return;
        open_.store(false, std::memory_order_release);
        channel_.reset();
    }
    qCDebug(zqUsb, "a transfer failed: the device is closed");
    failed->cancel();
}
