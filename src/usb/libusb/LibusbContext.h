#pragma once

#include "UsbTransport.h"

#include <libusb.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace zq::usb
{

// One libusb session and the thread that pumps its events: completions of the channels'
// transfers and hot-plug news. Channels hold it, so it outlives every open device.
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

private:
    explicit LibusbContext(libusb_context *context);
    void pumpEvents();
    void registerHotplug();
    void deliver(libusb_device *device, bool arrived);
    static int LIBUSB_CALL onHotplug(libusb_context *, libusb_device *device,
                                     libusb_hotplug_event event, void *self);

    libusb_context *context_;
    std::atomic<bool> quit_{false};
    std::thread events_;
    std::recursive_mutex listenerMutex_; // held while a listener runs
    UsbTransport::DeviceListener listener_;
    libusb_hotplug_callback_handle hotplug_ = 0;
    bool hotplugRegistered_ = false;
};

} // namespace zq::usb
