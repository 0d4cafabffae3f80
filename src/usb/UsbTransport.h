#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace zq::usb
{

// What a transfer that moved no data came to. A count of bytes (0 or more) means it completed.
enum TransferEnd : int {
    kTransferFailed = -1,  // the device is gone or broken: the channel is of no further use
    kTransferAborted = -2, // ended by abort() or by its time-out; the channel stays usable
};

// Each transfer carries a ticket, the number of the request it carries out, so that abort() ends
// exactly that transfer: pending, or not yet started (the worker may be on its way to it), but
// never a later one. Ticket 0 is never aborted; such transfers end by their time-out or by
// cancel().
struct TransferTicket {
    uint32_t number = 0;
    std::chrono::milliseconds timeout{0}; // 0: none
};

// One opened device's raw pipes. Created by a transport; used by UsbDevice only.
// write/read run on the worker thread; abort() and cancel() may run on any thread. cancel() makes
// a pending or later transfer fail promptly. The channel's handles are released once, in its
// destructor, which runs only after every transfer on it has returned.
class UsbChannel
{
public:
    struct PipeInfo {
        uint8_t speed = 2;   // 1 low, 2 full, 3 high speed
        uint8_t inPipe = 0;  // endpoint address, bit 7 set
        uint8_t outPipe = 0; // endpoint address, bit 7 clear
    };

    virtual ~UsbChannel() = default;
    virtual PipeInfo pipes() const = 0;
    // Bytes written, or a TransferEnd. An aborted write that had already gone out whole counts
    // as written: the board has the frame.
    virtual int write(const uint8_t *data, int32_t count, TransferTicket ticket) = 0;
    // Bytes received, or a TransferEnd.
    virtual int read(uint8_t *buffer, int capacity, TransferTicket ticket) = 0;
    // Says that the next write is followed by a read with this ticket, so that a channel may ask
    // for the reply together with the frame. A read started early is only the pipe's next packet
    // asked for sooner: whichever read comes next takes what it brings.
    virtual void expectRead(TransferTicket) {}
    virtual void abort(uint32_t ticket) = 0;
    virtual void cancel() = 0;
};

// Why a device could not be opened; the front ends name the cause and the fix.
enum class OpenError { None, NotFound, Permission, Busy, NoPipes, Other };

// A USB bus as the program sees it: which programmers are present, opening one, and news of
// devices arriving and leaving.
class UsbTransport
{
public:
    // arrived = true for an arrival, false for a removal; name is the device's name as the
    // platform reports it (the path for our devices). Called on the thread that pumps events; see
    // the front end for how it is brought to the window's thread.
    using DeviceListener = std::function<void(bool arrived, const QString &name)>;

    virtual ~UsbTransport() = default;
    virtual QStringList findProgrammers() = 0;
    // Opens the device named by path; null and an error on failure.
    virtual std::shared_ptr<UsbChannel> openChannel(const QString &path, OpenError *error) = 0;
    // Starts delivering device events to listener (replacing any earlier one); null stops.
    virtual void setDeviceListener(DeviceListener listener) = 0;
};

// The transports this build has.
std::shared_ptr<UsbTransport> makeEmulatedTransport();
#if defined(ZQ_HAVE_LIBUSB)
std::shared_ptr<UsbTransport> makeLibusbTransport();
#endif
#if defined(_WIN32)
std::shared_ptr<UsbTransport> makeWinUsbTransport();
// True for the WinUSB bus, whose device news arrives as the window's WM_DEVICECHANGE; another bus
// (the emulator) brings its own through the listener, and the window must not hear the real one.
bool hearsWindowsDeviceChanges(const UsbTransport &transport);
#endif

// The real bus of this platform: WinUSB on Windows, libusb elsewhere.
inline std::shared_ptr<UsbTransport> makePlatformTransport()
{
#if defined(_WIN32)
    return makeWinUsbTransport();
#elif defined(ZQ_HAVE_LIBUSB)
    return makeLibusbTransport();
#else
#error "This platform has no USB transport yet"
#endif
}

} // namespace zq::usb
