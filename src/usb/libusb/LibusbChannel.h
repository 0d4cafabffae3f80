#pragma once

#include "LibusbContext.h"
#include "UsbTransport.h"

#include <libusb.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace zq::usb
{

// An opened programmer over libusb: interface 0 claimed, one bulk pipe each way. Transfers are
// asynchronous underneath, completed by the context's event thread, so cancel() from the window's
// thread ends a read the board never answers. The interface and handle are given back in the
// destructor, which runs only after the last transfer has returned.
class LibusbChannel : public UsbChannel
{
public:
    LibusbChannel(std::shared_ptr<LibusbContext> context, libusb_device_handle *handle,
                  PipeInfo pipes);
    ~LibusbChannel() override;
    LibusbChannel(const LibusbChannel &) = delete;
    LibusbChannel &operator=(const LibusbChannel &) = delete;

    PipeInfo pipes() const override { return pipes_; }
    bool write(const uint8_t *data, int32_t count) override;
    int read(uint8_t *buffer, int capacity) override;
    void cancel() override;

private:
    // Bytes moved, or -1. Waits without a time-out: only completion, a device error or cancel()
    // ends it.
    int transfer(uint8_t endpoint, uint8_t *data, int length);
    static void LIBUSB_CALL onTransferEnded(libusb_transfer *transfer);

    std::shared_ptr<LibusbContext> context_;
    libusb_device_handle *handle_;
    PipeInfo pipes_;
    std::mutex mutex_;
    std::condition_variable ended_;
    libusb_transfer *pending_ = nullptr;
    bool pendingEnded_ = false;
    bool cancelled_ = false;
};

} // namespace zq::usb
