#include "usb/libusb/LibusbChannel.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace zq::usb
{

LibusbChannel::LibusbChannel(std::shared_ptr<LibusbContext> context, libusb_device_handle *handle,
                             PipeInfo pipes)
    : context_(std::move(context)), handle_(handle), pipes_(pipes)
{
}

LibusbChannel::~LibusbChannel()
{
    endEarlyRead();
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
    const int early = takeEarlyRead(buffer, capacity, ticket);
    if (early != kNoEarlyRead)
        return early;
    return transfer(pipes_.inPipe, buffer, capacity, ticket);
}

void LibusbChannel::expectRead(TransferTicket ticket)
{
    std::lock_guard<std::mutex> lock(mutex_);
    expected_ = ticket;
}

void LibusbChannel::abort(uint32_t ticket)
{
    std::lock_guard<std::mutex> lock(mutex_);
    abortedTicket_ = ticket;
    if (ticket == 0)
        return;
    if (pending_ && pendingTicket_ == ticket)
        libusb_cancel_transfer(pending_);
    if (early_.request && early_.ticket == ticket)
        libusb_cancel_transfer(early_.request);
}

void LibusbChannel::cancel()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    if (pending_)
        libusb_cancel_transfer(pending_);
    if (early_.request)
        libusb_cancel_transfer(early_.request);
}

void LibusbChannel::startEarlyRead()
{
    const TransferTicket ticket = std::exchange(expected_, TransferTicket{});
    if (ticket.number == 0 || early_.request || cancelled_ || ticket.number == abortedTicket_)
        return;
    libusb_transfer *request = libusb_alloc_transfer(0);
    if (!request)
        return;
    early_.ended = 0;
    early_.ticket = ticket.number;
    libusb_fill_bulk_transfer(request, handle_, pipes_.inPipe, early_.packet,
                              int(sizeof early_.packet), &LibusbChannel::onTransferEnded,
                              &early_.ended, unsigned(ticket.timeout.count()));
    if (libusb_submit_transfer(request) != LIBUSB_SUCCESS) {
        libusb_free_transfer(request);
        return;
    }
    early_.request = request;
}

// The read the early one was started for waits for it. Any other read (the early one's was
// withdrawn, or a drain's) ends it first: what it brought by then is the pipe's next packet and
// belongs to this read; if it brought nothing, the read is made anew with its own time-out.
int LibusbChannel::takeEarlyRead(uint8_t *buffer, int capacity, TransferTicket ticket)
{
    bool own = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!early_.request)
            return kNoEarlyRead;
        own = early_.ticket == ticket.number && ticket.number != 0;
        if (!own || cancelled_ || abortedTicket_ == ticket.number)
            libusb_cancel_transfer(early_.request);
    }
    context_->beginTransfer();
    waitFor(early_.ended);
    context_->endTransfer();
    std::lock_guard<std::mutex> lock(mutex_);
    libusb_transfer *request = std::exchange(early_.request, nullptr);
    int result = kNoEarlyRead;
    if (request->status == LIBUSB_TRANSFER_COMPLETED) {
        result = std::min(request->actual_length, capacity);
        std::memcpy(buffer, early_.packet, size_t(result));
    } else if (own || cancelled_ ||
               (request->status != LIBUSB_TRANSFER_CANCELLED &&
                request->status != LIBUSB_TRANSFER_TIMED_OUT)) {
        result = outcome(*request);
    }
    libusb_free_transfer(request);
    return result;
}

void LibusbChannel::endEarlyRead()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!early_.request)
            return;
        libusb_cancel_transfer(early_.request);
    }
    waitFor(early_.ended);
    libusb_free_transfer(std::exchange(early_.request, nullptr));
}

void LibusbChannel::waitFor(int &ended)
{
    while (ended == 0)
        libusb_handle_events_completed(context_->get(), &ended);
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
        if ((endpoint & LIBUSB_ENDPOINT_IN) == 0) {
            if (submitted)
                startEarlyRead();
            expected_ = {};
        }
    }
    if (submitted) {
        waitFor(completed);
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
