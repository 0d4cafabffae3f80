#include "usb/libusb/LibusbChannel.h"

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

int LibusbChannel::write(const uint8_t *data, int32_t count, TransferTicket ticket)
{
    if (count < 0)
        return kTransferFailed;
    // libusb only reads an OUT transfer's buffer.
    return transfer(pipes_.outPipe, const_cast<uint8_t *>(data), count, ticket);
}

int LibusbChannel::read(uint8_t *buffer, int capacity, TransferTicket ticket)
{
    return transfer(pipes_.inPipe, buffer, capacity, ticket);
}

void LibusbChannel::abort(uint32_t ticket)
{
    std::lock_guard<std::mutex> lock(mutex_);
    abortedTicket_ = ticket;
    if (pending_ && ticket != 0 && pendingTicket_ == ticket)
        libusb_cancel_transfer(pending_);
}

void LibusbChannel::cancel()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    if (pending_)
        libusb_cancel_transfer(pending_);
}

int LibusbChannel::transfer(uint8_t endpoint, uint8_t *data, int length, TransferTicket ticket)
{
    libusb_transfer *request = libusb_alloc_transfer(0);
    if (!request)
        return kTransferFailed;
    int completed = 0; // set by onTransferEnded, on whichever thread handles the event
    libusb_fill_bulk_transfer(request, handle_, endpoint, data, length,
                              &LibusbChannel::onTransferEnded, &completed,
                              unsigned(ticket.timeout.count()));
    int result = kTransferFailed;
    bool submitted = false;
    context_->beginTransfer();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!cancelled_ && ticket.number != 0 && ticket.number == abortedTicket_) {
            result = kTransferAborted; // given up before it could start
        } else if (!cancelled_ && libusb_submit_transfer(request) == LIBUSB_SUCCESS) {
            submitted = true;
            pending_ = request;
            pendingTicket_ = ticket.number;
        }
    }
    if (submitted) {
        while (completed == 0)
            libusb_handle_events_completed(context_->get(), &completed);
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = nullptr;
        result = outcome(*request);
    }
    context_->endTransfer();
    libusb_free_transfer(request);
    return result;
}

int LibusbChannel::outcome(const libusb_transfer &request) const
{
    if (request.status == LIBUSB_TRANSFER_COMPLETED)
        return request.actual_length;
    const bool aborted = request.status == LIBUSB_TRANSFER_TIMED_OUT ||
                         (request.status == LIBUSB_TRANSFER_CANCELLED && !cancelled_);
    if (!aborted)
        return kTransferFailed;
    // A frame that had gone out whole before the abort reached the board all the same.
    const bool out = (request.endpoint & LIBUSB_ENDPOINT_IN) == 0;
    if (out && request.actual_length == request.length)
        return request.actual_length;
    return kTransferAborted;
}

void LIBUSB_CALL LibusbChannel::onTransferEnded(libusb_transfer *transfer)
{
    *static_cast<int *>(transfer->user_data) = 1;
}

} // namespace zq::usb
