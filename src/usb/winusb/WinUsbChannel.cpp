#include "usb/winusb/WinUsbChannel.h"

#include "usb/PipeDiscovery.h"

#include <algorithm>
#include <chrono>

namespace zq::winusb
{
namespace
{

constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED; // WinUSB requires it

bool isValid(HANDLE handle)
{
    return handle != INVALID_HANDLE_VALUE && handle != nullptr;
}

DWORD waitMilliseconds(std::chrono::milliseconds timeout)
{
    if (timeout.count() <= 0)
        return INFINITE;
    return DWORD(std::min<std::chrono::milliseconds::rep>(timeout.count(), INFINITE - 1));
}

// WinUSB lets one program at a time have a device, so a refused open most often means another
// program holds the board.
WinUsbChannel::OpenFailure fileOpenFailure(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
        return WinUsbChannel::OpenFailure::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return WinUsbChannel::OpenFailure::Busy;
    default:
        return WinUsbChannel::OpenFailure::Other;
    }
}

} // namespace

WinUsbChannel::WinUsbChannel(const WinUsbCalls &calls)
    : calls_(calls), wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

WinUsbChannel::~WinUsbChannel()
{
    close();
    {
        // The wake event must outlive any transfer still waiting on it.
        std::unique_lock<std::mutex> lock(mutex_);
        transferEnded_.wait(lock, [this] { return inFlight_ == 0; });
    }
    if (wake_)
        CloseHandle(wake_);
}

bool WinUsbChannel::open(const std::wstring &path)
{
    close();
    std::unique_lock<std::mutex> lock(mutex_);
    // A transfer of the last opening releases its handles on the way out; the new ones must not
    // be what it releases.
    transferEnded_.wait(lock, [this] { return inFlight_ == 0; });
    closing_ = false;
    fileHandle_ = calls_.createFile(path.c_str(), kAccess, kShareMode, nullptr, OPEN_EXISTING,
                                    kFlags, nullptr);
    if (!isValid(fileHandle_)) {
        openFailure_ = fileOpenFailure(GetLastError());
        fileHandle_ = INVALID_HANDLE_VALUE;
        return false;
    }
    if (!initialize())
        openFailure_ = OpenFailure::NotWinUsb;
    else if (!discoverPipes())
        openFailure_ = OpenFailure::NoPipes;
    else
        openFailure_ = OpenFailure::None;
    if (openFailure_ == OpenFailure::None)
        return true;
    releaseLocked();
    return false;
}

bool WinUsbChannel::isOpen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !closing_ && isValid(fileHandle_) && isValid(winusbHandle_);
}

int WinUsbChannel::close()
{
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    if (inFlight_ == 0)
        releaseLocked();
    else if (wake_)
        SetEvent(wake_); // stays set: a transfer not yet in its pipe call sees it when it waits
    return 1;
}

int WinUsbChannel::write(const uint8_t *data, int32_t count, uint32_t ticket,
                         std::chrono::milliseconds timeout)
{
    if (count < 0) {
        close();
        return -1;
    }
    // WinUSB only reads an OUT transfer's buffer.
    return transfer(true, const_cast<uint8_t *>(data), ULONG(count), ticket, timeout);
}

int WinUsbChannel::read(uint8_t *buffer, uint32_t ticket, std::chrono::milliseconds timeout)
{
    return transfer(false, buffer, ULONG(kReadSize), ticket, timeout);
}

void WinUsbChannel::abort(uint32_t ticket)
{
    if (ticket == 0)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    abortedTicket_ = ticket;
    // Only the transfer that carries the ticket is woken; one not yet started sees the ticket
    // when it begins.
    if (inFlight_ > 0 && currentTicket_ == ticket && wake_)
        SetEvent(wake_);
}

int WinUsbChannel::transfer(bool out, uint8_t *data, ULONG length, uint32_t ticket,
                            std::chrono::milliseconds timeout)
{
    WINUSB_INTERFACE_HANDLE handle = nullptr;
    switch (beginTransfer(ticket, &handle)) {
    case Begin::Aborted:
        return kAborted;
    case Begin::Failed:
        close();
        return -1;
    case Begin::Go:
        break;
    }
    const UCHAR pipe = out ? outPipe_ : inPipe_;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        endTransfer(true);
        return -1;
    }
    ULONG ignored = 0; // with an OVERLAPPED the count comes from the overlapped result
    const BOOL done = out ? calls_.writePipe(handle, pipe, data, length, &ignored, &overlapped)
                          : calls_.readPipe(handle, pipe, data, length, &ignored, &overlapped);
    const bool started = done || GetLastError() == ERROR_IO_PENDING;
    bool ok = false;
    bool givenUp = false; // woken by abort() or close(), or timed out, and aborted here
    DWORD moved = 0;
    DWORD error = ERROR_SUCCESS;
    if (started) {
        DWORD woke = WAIT_OBJECT_0;
        if (!done) {
            const HANDLE events[2] = {overlapped.hEvent, wake_};
            woke = WaitForMultipleObjects(2, events, FALSE, waitMilliseconds(timeout));
        }
        // The buffer and the OVERLAPPED are ours again only once the transfer has returned, so
        // a transfer given up on is aborted here and then waited for.
        if (woke != WAIT_OBJECT_0) {
            calls_.abortPipe(handle, pipe);
            givenUp = woke == WAIT_OBJECT_0 + 1 || woke == WAIT_TIMEOUT;
        }
        ok = calls_.getOverlappedResult(handle, &overlapped, &moved, TRUE) != FALSE;
        if (!ok)
            error = GetLastError();
    }
    CloseHandle(overlapped.hEvent);

    int result = -1;
    if (ok) {
        result = out ? 1 : int(std::min<DWORD>(moved, kReadSize));
    } else if (out && givenUp && moved == length) {
        result = 1; // the whole frame had gone out before the abort: the board has it
    } else if (givenUp && error == ERROR_OPERATION_ABORTED) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!closing_)
            result = kAborted;
    }
    endTransfer(result == -1);
    return result;
}

bool WinUsbChannel::initialize()
{
    WINUSB_INTERFACE_HANDLE handle = INVALID_HANDLE_VALUE;
    if (!calls_.initialize(fileHandle_, &handle) || !isValid(handle))
        return false;
    winusbHandle_ = handle;
    ULONG length = 1;
    return calls_.queryDeviceInformation(winusbHandle_, DEVICE_SPEED, &length, &speed_) != FALSE;
}

bool WinUsbChannel::discoverPipes()
{
    USB_INTERFACE_DESCRIPTOR descriptor{};
    if (!calls_.queryInterfaceSettings(winusbHandle_, 0, &descriptor))
        return false;
    const usb::BulkPipes pipes = usb::discoverBulkPipes(
        descriptor.bNumEndpoints, [this](int index, usb::EndpointQuery *endpoint) {
            WINUSB_PIPE_INFORMATION info{};
            if (!calls_.queryPipe(winusbHandle_, 0, UCHAR(index), &info))
                return false;
            endpoint->type = uint8_t(info.PipeType);
            endpoint->address = info.PipeId;
            return true;
        });
    if (pipes.haveIn)
        inPipe_ = pipes.inPipe;
    if (pipes.haveOut)
        outPipe_ = pipes.outPipe;
    return pipes.usable();
}

WinUsbChannel::Begin WinUsbChannel::beginTransfer(uint32_t ticket, WINUSB_INTERFACE_HANDLE *handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_ || !isValid(fileHandle_) || !isValid(winusbHandle_) || !wake_)
        return Begin::Failed;
    if (ticket != 0 && ticket == abortedTicket_)
        return Begin::Aborted; // given up on before it started: nothing goes out
    ++inFlight_;
    currentTicket_ = ticket;
    // An abort of an earlier transfer may have left the event set. Reset under the lock, so a
    // close() or an abort of this ticket from now on is seen.
    ResetEvent(wake_);
    *handle = winusbHandle_;
    return Begin::Go;
}

void WinUsbChannel::endTransfer(bool failed)
{
    std::lock_guard<std::mutex> lock(mutex_);
    --inFlight_;
    currentTicket_ = 0;
    if (failed)
        closing_ = true;
    if (closing_ && inFlight_ == 0)
        releaseLocked();
    transferEnded_.notify_all();
}

void WinUsbChannel::releaseLocked()
{
    // The interface handle is built on the file handle: it goes first.
    if (isValid(winusbHandle_))
        calls_.freeInterface(winusbHandle_);
    if (isValid(fileHandle_))
        calls_.closeHandle(fileHandle_);
    fileHandle_ = INVALID_HANDLE_VALUE;
    winusbHandle_ = INVALID_HANDLE_VALUE;
}

const WinUsbCalls &systemWinUsbCalls()
{
    static const WinUsbCalls calls{
        &::CreateFileW,
        &::CloseHandle,
        &::WinUsb_Initialize,
        &::WinUsb_Free,
        &::WinUsb_QueryDeviceInformation,
        &::WinUsb_QueryInterfaceSettings,
        &::WinUsb_QueryPipe,
        &::WinUsb_WritePipe,
        &::WinUsb_ReadPipe,
        &::WinUsb_AbortPipe,
        &::WinUsb_GetOverlappedResult,
    };
    return calls;
}

} // namespace zq::winusb
