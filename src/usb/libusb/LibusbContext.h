#pragma once

#include "usb/UsbTransport.h"

#include <libusb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace zq::usb
{

// One libusb session and the thread that pumps its events: completions of the channels'
// transfers and hot-plug news. Channels hold it, so it outlives every open device.
//
// During a burst of transfers the worker that waits for them handles the events itself, in its
// own thread, as a plain synchronous libusb loop does: a completion then wakes the one thread
// that waits for it instead of passing through the pump, which matters when other programs keep
// every core busy. The pump steps aside from the first transfer of a burst until the transfers
// have stopped for kPumpLinger, and handles hot-plug news (and any completion) again after that.
class LibusbContext
{
public:
    // Null when libusb cannot start on this machine.
    static std::shared_ptr<LibusbContext> create();
    ~LibusbContext();
    LibusbContext(const LibusbContext &) = delete;
    LibusbContext &operator=(const LibusbContext &) = delete;

    libusb_context *get() const { return context_; }

    // Arrivals and departures of every device, on the event thread. Once this returns, the
    // previous listener is not running and will not be called again.
    void setDeviceListener(UsbTransport::DeviceListener listener);

    // A channel's transfer from submission to its end; the pump keeps out of the way meanwhile.
    void beginTransfer();
    void endTransfer();

    static constexpr auto kPumpLinger = std::chrono::milliseconds(20);

private:
    explicit LibusbContext(libusb_context *context);
    void pumpEvents();
    bool pumpMayRun(std::unique_lock<std::mutex> &lock);
    void registerHotplug();
    void deliver(libusb_device *device, bool arrived);
    static int LIBUSB_CALL onHotplug(libusb_context *, libusb_device *device,
                                     libusb_hotplug_event event, void *self);

    libusb_context *context_;
    std::atomic<bool> quit_{false};
    std::mutex pumpMutex_;
    std::condition_variable pumpWake_;
    int transfers_ = 0;                                  // pumpMutex_ held
    std::chrono::steady_clock::time_point lastTransfer_; // pumpMutex_ held
    std::thread events_;
    std::recursive_mutex listenerMutex_; // held while a listener runs
    UsbTransport::DeviceListener listener_;
    libusb_hotplug_callback_handle hotplug_ = 0;
    bool hotplugRegistered_ = false;
};

} // namespace zq::usb
