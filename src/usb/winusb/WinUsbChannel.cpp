#include "WinUsbChannel.h"

#include "PipeDiscovery.h"

#include <algorithm>
#include <chrono>

namespace zq::winusb
{
namespace
{

constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED; // WinUSB requires it
constexpr int kAbortRounds = 100;
constexpr auto kAbortRound = std::chrono::milliseconds(1);

bool isValid(HANDLE handle)
{
    return handle != INVALID_HANDLE_VALUE && handle != nullptr;
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

WinUsbChannel::WinUsbChannel(const WinUsbCalls &calls) : calls_(calls) {}

WinUsbChannel::~WinUsbChannel()
{
    close();
}

bool WinUsbChannel::open(const std::wstring &path)
{
    close();
    std::lock_guard<std::mutex> lock(mutex_);
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
    std::unique_lock<std::mutex> lock(mutex_);
    closing_ = true;
    if (inFlight_ == 0)
        releaseLocked();
    else
        abortTransfers(lock);
    return 1;
}

int WinUsbChannel::write(const uint8_t *data, int32_t count)
{
    const WINUSB_INTERFACE_HANDLE handle = count >= 0 ? beginTransfer() : nullptr;
    if (!handle) {
        close();
        return -1;
    }
    ULONG written = 0; // not compared with count: the pipe took the frame or failed
    const bool ok = calls_.writePipe(handle, outPipe_, const_cast<PUCHAR>(data), ULONG(count),
                                     &written, nullptr) != FALSE;
    endTransfer(ok);
    return ok ? 1 : -1;
}

int WinUsbChannel::read(uint8_t *buffer)
{
    const WINUSB_INTERFACE_HANDLE handle = beginTransfer();
    if (!handle) {
        close();
        return -1;
    }
    ULONG received = 0;
    const bool ok =
        calls_.readPipe(handle, inPipe_, buffer, ULONG(kReadSize), &received, nullptr) != FALSE;
    endTransfer(ok);
    return ok ? int(std::min<ULONG>(received, kReadSize)) : -1;
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

WINUSB_INTERFACE_HANDLE WinUsbChannel::beginTransfer()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_ || !isValid(fileHandle_) || !isValid(winusbHandle_))
        return nullptr;
    ++inFlight_;
    return winusbHandle_;
}

void WinUsbChannel::endTransfer(bool succeeded)
{
    std::lock_guard<std::mutex> lock(mutex_);
    --inFlight_;
    if (!succeeded)
        closing_ = true;
    if (closing_ && inFlight_ == 0)
        releaseLocked();
    transferEnded_.notify_all();
}

void WinUsbChannel::abortTransfers(std::unique_lock<std::mutex> &lock)
{
    // A transfer counted but not yet inside its pipe call would miss a single abort, so keep
    // aborting until it has returned. Past the bound the transfer releases on its way out.
    for (int round = 0; round < kAbortRounds && inFlight_ > 0; ++round) {
        calls_.abortPipe(winusbHandle_, inPipe_);
        calls_.abortPipe(winusbHandle_, outPipe_);
        transferEnded_.wait_for(lock, kAbortRound);
    }
}

void WinUsbChannel::releaseLocked()
{
    if (isValid(fileHandle_))
        calls_.closeHandle(fileHandle_);
    if (isValid(winusbHandle_))
        calls_.freeInterface(winusbHandle_);
    fileHandle_ = INVALID_HANDLE_VALUE;
    winusbHandle_ = INVALID_HANDLE_VALUE;
}

} // namespace zq::winusb
