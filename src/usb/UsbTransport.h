#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace zq::usb
{

// One opened device's raw pipes. Created by a transport; used by UsbDevice only.
// write/read run on the worker thread; cancel() may run on any thread and makes a pending or later
// transfer fail promptly. The channel's handles are released once, in its destructor, which runs
// only after every transfer on it has returned.
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
    virtual bool write(const uint8_t *data, int32_t count) = 0;
    virtual int read(uint8_t *buffer, int capacity) = 0; // bytes received, or -1
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

} // namespace zq::usb
