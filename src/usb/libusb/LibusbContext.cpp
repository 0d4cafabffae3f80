#include "usb/libusb/LibusbContext.h"

#include "usb/libusb/DevicePathText.h"

namespace zq::usb
{

std::shared_ptr<LibusbContext> LibusbContext::create()
{
    libusb_context *context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS)
        return nullptr;
    return std::shared_ptr<LibusbContext>(new LibusbContext(context));
}

LibusbContext::LibusbContext(libusb_context *context) : context_(context)
{
    registerHotplug();
    events_ = std::thread([this] { pumpEvents(); });
}

LibusbContext::~LibusbContext()
{
    if (hotplugRegistered_)
        libusb_hotplug_deregister_callback(context_, hotplug_);
    {
        std::lock_guard<std::mutex> lock(pumpMutex_);
        quit_.store(true);
    }
    pumpWake_.notify_all();
    libusb_interrupt_event_handler(context_);
    events_.join();
    libusb_exit(context_);
}

void LibusbContext::setDeviceListener(UsbTransport::DeviceListener listener)
{
    std::lock_guard<std::recursive_mutex> lock(listenerMutex_);
    listener_ = std::move(listener);
}

void LibusbContext::beginTransfer()
{
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(pumpMutex_);
        first =
            transfers_++ == 0 && std::chrono::steady_clock::now() >= lastTransfer_ + kPumpLinger;
    }
    // The pump may sit in its poll holding libusb's event lock: it is asked out of it once per
    // burst, and the worker's own event handling waits for it only that once.
    if (first)
        libusb_interrupt_event_handler(context_);
}

// The pump is not woken: it looks again by itself after kPumpLinger, which spares it a wake-up
// per transfer.
void LibusbContext::endTransfer()
{
    std::lock_guard<std::mutex> lock(pumpMutex_);
    --transfers_;
    lastTransfer_ = std::chrono::steady_clock::now();
}

// False when the pump is to end.
bool LibusbContext::pumpMayRun(std::unique_lock<std::mutex> &lock)
{
    for (;;) {
        if (quit_.load())
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (transfers_ > 0)
            pumpWake_.wait_until(lock, now + kPumpLinger);
        else if (now < lastTransfer_ + kPumpLinger)
            pumpWake_.wait_until(lock, lastTransfer_ + kPumpLinger);
        else
            return true;
    }
}

void LibusbContext::pumpEvents()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(pumpMutex_);
            if (!pumpMayRun(lock))
                return;
        }
        // The time-out only bounds how long a missed interrupt could delay shutting down.
        timeval interval{0, 200000};
        libusb_handle_events_timeout_completed(context_, &interval, nullptr);
    }
}

void LibusbContext::registerHotplug()
{
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0)
        return;
    const auto events = libusb_hotplug_event(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                             LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
    hotplugRegistered_ = libusb_hotplug_register_callback(
                             context_, events, LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY,
                             LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                             &LibusbContext::onHotplug, this, &hotplug_) == LIBUSB_SUCCESS;
}

int LIBUSB_CALL LibusbContext::onHotplug(libusb_context *, libusb_device *device,
                                         libusb_hotplug_event event, void *self)
{
    static_cast<LibusbContext *>(self)->deliver(device,
                                                event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
    return 0; // stay registered
}

void LibusbContext::deliver(libusb_device *device, bool arrived)
{
    const QString name = devicePathText(device);
    std::lock_guard<std::recursive_mutex> lock(listenerMutex_);
    if (listener_)
        listener_(arrived, name);
}

} // namespace zq::usb
