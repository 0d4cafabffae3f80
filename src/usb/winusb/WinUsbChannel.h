#pragma once

#include <windows.h>

#include <winusb.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace zq::winusb
{

// The Windows calls the WinUSB channel makes, gathered in one table so that the channel's rules
// (release once, abort before release, overlapped transfers, pipe discovery) can be exercised
// without a device.
struct WinUsbCalls {
    decltype(&::CreateFileW) createFile;
    decltype(&::CloseHandle) closeHandle;
    decltype(&::WinUsb_Initialize) initialize;
    decltype(&::WinUsb_Free) freeInterface;
    decltype(&::WinUsb_QueryDeviceInformation) queryDeviceInformation;
    decltype(&::WinUsb_QueryInterfaceSettings) queryInterfaceSettings;
    decltype(&::WinUsb_QueryPipe) queryPipe;
    decltype(&::WinUsb_WritePipe) writePipe;
    decltype(&::WinUsb_ReadPipe) readPipe;
    decltype(&::WinUsb_AbortPipe) abortPipe;
    decltype(&::WinUsb_GetOverlappedResult) getOverlappedResult;
};

// The real kernel32 and winusb.dll entry points.
const WinUsbCalls &systemWinUsbCalls();

// The opened programmer over WinUSB: the device file, its WinUSB interface handle and the two
// bulk pipes. Transfers are overlapped calls made and waited for on the worker's thread; while
// one is pending the worker also waits on the channel's wake event, so abort() and close() from
// another thread end it: the worker itself aborts its pipe and waits until the transfer has
// returned. The handles are released exactly once, by whichever side is last out, never under a
// transfer.
class WinUsbChannel
{
public:
    static constexpr int kReadSize = 512;
    static constexpr int kAborted = -2; // ended by abort() or its time-out; the channel stays open

    // Why the last open failed, so the user can be told what to do about it.
    enum class OpenFailure { None, NotFound, Busy, NotWinUsb, NoPipes, Other };

    explicit WinUsbChannel(const WinUsbCalls &calls = systemWinUsbCalls());
    ~WinUsbChannel();
    WinUsbChannel(const WinUsbChannel &) = delete;
    WinUsbChannel &operator=(const WinUsbChannel &) = delete;

    bool open(const std::wstring &path);
    bool isOpen() const;
    // Always 1. A transfer under way ends promptly with -1 and releases the handles on its way
    // out; close() does not wait for it.
    int close();

    // A transfer carries a ticket so that abort() ends exactly that one; ticket 0 is never
    // aborted. A time-out of 0 means none; one that runs out ends the transfer as abort() does.
    // write: 1, -1 (failed; the channel is closed) or kAborted. A write that had gone out whole
    // before the abort reached it counts as written.
    int write(const uint8_t *data, int32_t count, uint32_t ticket,
              std::chrono::milliseconds timeout);
    // read: 0..512 bytes (0 for a zero-length packet), -1 (failed; closed) or kAborted.
    int read(uint8_t *buffer, uint32_t ticket, std::chrono::milliseconds timeout);
    int write(const uint8_t *data, int32_t count) // ticket 0, no time-out
    {
        return write(data, count, 0, std::chrono::milliseconds(0));
    }
    int read(uint8_t *buffer) { return read(buffer, 0, std::chrono::milliseconds(0)); }
    // Ends the transfer that carries ticket: at once if it is pending, or as soon as it starts.
    void abort(uint32_t ticket);

    uint8_t speed() const { return speed_; }
    uint8_t inPipe() const { return inPipe_; }
    uint8_t outPipe() const { return outPipe_; }
    OpenFailure openFailure() const { return openFailure_; }

private:
    enum class Begin { Go, Failed, Aborted };

    bool initialize();
    bool discoverPipes();
    int transfer(bool out, uint8_t *data, ULONG length, uint32_t ticket,
                 std::chrono::milliseconds timeout);
    // Counts a transfer in, or says why it may not start; *handle is the interface to use.
    Begin beginTransfer(uint32_t ticket, WINUSB_INTERFACE_HANDLE *handle);
    void endTransfer(bool failed);
    void releaseLocked();

    const WinUsbCalls &calls_;
    mutable std::mutex mutex_;
    std::condition_variable transferEnded_;
    HANDLE fileHandle_ = INVALID_HANDLE_VALUE;
    WINUSB_INTERFACE_HANDLE winusbHandle_ = INVALID_HANDLE_VALUE;
    // Manual reset, so a transfer that is counted but not yet inside its pipe call when abort()
    // or close() sets it still sees it once it waits. Reset (under mutex_) as a transfer starts.
    HANDLE wake_ = nullptr;
    bool closing_ = false; // no new transfer; the last one out releases
    int inFlight_ = 0;
    uint32_t currentTicket_ = 0; // of the transfer in flight
    uint32_t abortedTicket_ = 0; // the last ticket given up on
    uint8_t speed_ = 2;
    uint8_t inPipe_ = 0;
    uint8_t outPipe_ = 0;
    OpenFailure openFailure_ = OpenFailure::None;
};

} // namespace zq::winusb
