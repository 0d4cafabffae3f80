#pragma once

#include "WinUsbCalls.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace zq::winusb
{

// The opened programmer over WinUSB: the device file, its WinUSB interface handle and the two
// bulk pipes. Transfers are synchronous calls on the worker's thread; close() may come from the
// window's thread while one is blocked. It then aborts both pipes so the transfer returns, and
// the handles are released exactly once, by whichever side is last out, never under a transfer.
class WinUsbChannel
{
public:
    static constexpr int kReadSize = 512;

    // Why the last open failed, so the user can be told what to do about it.
    enum class OpenFailure { None, NotFound, Busy, NotWinUsb, NoPipes, Other };

    explicit WinUsbChannel(const WinUsbCalls &calls = systemWinUsbCalls());
    ~WinUsbChannel();
    WinUsbChannel(const WinUsbChannel &) = delete;
    WinUsbChannel &operator=(const WinUsbChannel &) = delete;

    bool open(const std::wstring &path);
    bool isOpen() const;
    int close();                                   // always 1
    int write(const uint8_t *data, int32_t count); // 1 or -1; closes on failure
    int read(uint8_t *buffer);                     // 0..512, or -1; closes on failure

    uint8_t speed() const { return speed_; }
    uint8_t inPipe() const { return inPipe_; }
    uint8_t outPipe() const { return outPipe_; }
    OpenFailure openFailure() const { return openFailure_; }

private:
    bool initialize();
    bool discoverPipes();
    // The interface handle for one transfer, or null when the channel is closed or closing.
    WINUSB_INTERFACE_HANDLE beginTransfer();
    void endTransfer(bool succeeded);
    void abortTransfers(std::unique_lock<std::mutex> &lock);
    void releaseLocked();

    const WinUsbCalls &calls_;
    mutable std::mutex mutex_;
    std::condition_variable transferEnded_;
    HANDLE fileHandle_ = INVALID_HANDLE_VALUE;
    WINUSB_INTERFACE_HANDLE winusbHandle_ = INVALID_HANDLE_VALUE;
    bool closing_ = false; // no new transfer; the last one out releases
    int inFlight_ = 0;
    uint8_t speed_ = 2;
    uint8_t inPipe_ = 0;
    uint8_t outPipe_ = 0;
    OpenFailure openFailure_ = OpenFailure::None;
};

} // namespace zq::winusb
