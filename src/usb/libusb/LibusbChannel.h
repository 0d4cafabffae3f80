#pragma once

#include "usb/UsbTransport.h"
#include "usb/libusb/LibusbContext.h"

#include <libusb.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace zq::usb
{

// An opened programmer over libusb: interface 0 claimed, one bulk pipe each way. Transfers are
// asynchronous underneath, and the thread that waits for one handles libusb's events until it
// has ended (see LibusbContext), so abort() and cancel() from the window's thread end a read the
// board never answers. The interface and handle are given back in the destructor, which runs
// only after the last transfer has returned.
class LibusbChannel : public UsbChannel
{
public:
    LibusbChannel(std::shared_ptr<LibusbContext> context, libusb_device_handle *handle,
                  PipeInfo pipes);
    ~LibusbChannel() override;
    LibusbChannel(const LibusbChannel &) = delete;
    LibusbChannel &operator=(const LibusbChannel &) = delete;

    PipeInfo pipes() const override { return pipes_; }
    int write(const uint8_t *data, int32_t count, TransferTicket ticket) override;
    int read(uint8_t *buffer, int capacity, TransferTicket ticket) override;
    void expectRead(TransferTicket ticket) override;
    void abort(uint32_t ticket) override;
    void cancel() override;

private:
    // A read submitted right after a frame, before the frame's write has ended: its reply then
    // needs no turn of its own through the bus, which halves the wake-ups of an exchange.
    struct EarlyRead {
        libusb_transfer *request = nullptr; // null: none started
        uint32_t ticket = 0;
        int ended = 0; // set by onTransferEnded
        uint8_t packet[512];
    };

    // Bytes moved, or a TransferEnd. Only completion, the ticket's time-out, a device error,
    // abort() or cancel() ends it.
    int transfer(uint8_t endpoint, uint8_t *data, int length, TransferTicket ticket);
    int outcome(const libusb_transfer &request) const; // mutex_ held
    void startEarlyRead();                             // mutex_ held
    // The early read's bytes, a TransferEnd, or kNoEarlyRead when there was none or it brought
    // nothing and the read is still to be made.
    int takeEarlyRead(uint8_t *buffer, int capacity, TransferTicket ticket);
    void endEarlyRead(); // cancels it and waits for its end
    void waitFor(int &ended);
    static constexpr int kNoEarlyRead = -100;
    static void LIBUSB_CALL onTransferEnded(libusb_transfer *transfer);

    std::shared_ptr<LibusbContext> context_;
    libusb_device_handle *handle_;
    PipeInfo pipes_;
    std::mutex mutex_;
    libusb_transfer *pending_ = nullptr;
    uint32_t pendingTicket_ = 0;
    uint32_t abortedTicket_ = 0;
    TransferTicket expected_;
    EarlyRead early_;
    bool cancelled_ = false;
};

} // namespace zq::usb
