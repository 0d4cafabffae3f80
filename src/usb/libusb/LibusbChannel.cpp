#include "LibusbChannel.h"

namespace zq::usb
{

LibusbChannel::LibusbChannel(std::shared_ptr<LibusbContext> context, libusb_device_handle *handle,
                             PipeInfo pipes)
    : context_(std::move(context)), handle_(handle), pipes_(pipes)
{
}

LibusbChannel::~LibusbChannel()
{
    libusb_release_interface(handle_, 0);
    libusb_close(handle_);
}

bool LibusbChannel::write(const uint8_t *data, int32_t count)
{
    if (count < 0)
        return false;
    // libusb only reads an OUT transfer's buffer.
    return transfer(pipes_.outPipe, const_cast<uint8_t *>(data), count) >= 0;
}

int LibusbChannel::read(uint8_t *buffer, int capacity)
{
    return transfer(pipes_.inPipe, buffer, capacity);
}

void LibusbChannel::cancel()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    if (pending_)
        libusb_cancel_transfer(pending_);
}

int LibusbChannel::transfer(uint8_t endpoint, uint8_t *data, int length)
{
    libusb_transfer *request = libusb_alloc_transfer(0);
    if (!request)
        return -1;
    libusb_fill_bulk_transfer(request, handle_, endpoint, data, length,
                              &LibusbChannel::onTransferEnded, this, 0);
    bool submitted = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        pendingEnded_ = false;
        submitted = !cancelled_ && libusb_submit_transfer(request) == LIBUSB_SUCCESS;
        if (submitted) {
            pending_ = request;
            ended_.wait(lock, [this] { return pendingEnded_; });
            pending_ = nullptr;
        }
    }
    const int result =
        submitted && request->status == LIBUSB_TRANSFER_COMPLETED ? request->actual_length : -1;
    libusb_free_transfer(request);
    return result;
}

void LIBUSB_CALL LibusbChannel::onTransferEnded(libusb_transfer *transfer)
{
    auto *self = static_cast<LibusbChannel *>(transfer->user_data);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->pendingEnded_ = true;
    self->ended_.notify_all();
}

} // namespace zq::usb
