#pragma once

#include "usb/UsbTransport.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace zq::usb
{
class UsbTransport;
class UsbChannel;
} // namespace zq::usb

// The opened programmer: its two bulk pipes and the path it was opened by. Closed after any
// failed transfer. open/isOpen/close run on the window's thread, write/read on the worker's; close
// may be called while a transfer is pending and makes it fail promptly (the channel's handles are
// released once, after the transfer has returned).
class UsbDevice
{
public:
    static constexpr int kReadSize = 512;

    // The transport decides which bus is used: libusb (Linux, macOS), WinUSB (Windows) or the
    // in-process emulator.
    explicit UsbDevice(std::shared_ptr<zq::usb::UsbTransport> transport);
    ~UsbDevice();
    UsbDevice(const UsbDevice &) = delete;
    UsbDevice &operator=(const UsbDevice &) = delete;

    bool open(const QString &path);
    bool isOpen() const;
    int close();                                   // always 1
    int write(const uint8_t *data, int32_t count); // 1 or -1
    int read(uint8_t *buffer);                     // 0..512 bytes received, or -1

    // The worker's transfers, which the window's thread can end one by one with abortTransfer
    // (a wait that gave up) without closing the device. Besides the results above they may give
    // zq::usb::kTransferAborted; the device then stays open.
    // readAhead: the ticket of the read that follows this write, if the worker knows it already.
    int write(const uint8_t *data, int32_t count, zq::usb::TransferTicket ticket,
              zq::usb::TransferTicket readAhead = {});
    int read(uint8_t *buffer, zq::usb::TransferTicket ticket);
    void abortTransfer(uint32_t ticket);

    QString devicePath() const; // the last successful open's path; kept after close
    uint8_t speed() const { return speed_; }
    uint8_t inPipe() const { return inPipe_; }
    uint8_t outPipe() const { return outPipe_; }

    zq::usb::UsbTransport &transport() const { return *transport_; }
    // Why the last open failed (None after a successful one).
    zq::usb::OpenError lastOpenError() const { return lastOpenError_; }

private:
    // The channel in use, or null when closed. A transfer works on its own copy, so close()
    // from the window's thread never frees the channel under a pending write or read.
    std::shared_ptr<zq::usb::UsbChannel> currentChannel() const;
    // Closes only if the failed channel is still the open one.
    void closeAfterFailure(const std::shared_ptr<zq::usb::UsbChannel> &failed);

    std::shared_ptr<zq::usb::UsbTransport> transport_;
    std::shared_ptr<zq::usb::UsbChannel> channel_; // null when closed
    mutable std::mutex mutex_;
    std::atomic<bool> open_{false};
    uint8_t speed_ = 2;
    uint8_t inPipe_ = 0;
    uint8_t outPipe_ = 0;
    QString devicePath_;
    zq::usb::OpenError lastOpenError_ = zq::usb::OpenError::None;
};
