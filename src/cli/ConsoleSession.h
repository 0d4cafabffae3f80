#pragma once

#include <QObject>

#include <memory>

class UsbDevice;
class USB_BURN_CTRL;

namespace zq
{
class FrontEnd;
namespace usb
{
class UsbTransport;
}
namespace ops
{
struct Session;
}
} // namespace zq

namespace zq::cli
{

// What the window owns for its operations, owned by the console instead: the device, the
// worker, the session over them, and the device news, which reach the operations on this
// thread while they let the event loop run, as the window's do.
class ConsoleSession
{
public:
    ConsoleSession(std::shared_ptr<usb::UsbTransport> transport, FrontEnd &frontEnd);
    // Closes the programmer and ends the worker.
    ~ConsoleSession();
    ConsoleSession(const ConsoleSession &) = delete;
    ConsoleSession &operator=(const ConsoleSession &) = delete;

    ops::Session &session() const { return *session_; }
    UsbDevice &device() const { return *device_; }
    usb::UsbTransport &transport() const { return *transport_; }
    const std::shared_ptr<usb::UsbTransport> &sharedTransport() const { return transport_; }

private:
    void listenForDevices();

    std::shared_ptr<usb::UsbTransport> transport_;
    std::unique_ptr<UsbDevice> device_;
    std::unique_ptr<USB_BURN_CTRL> burnCtrl_;
    std::unique_ptr<ops::Session> session_;
    QObject receiver_; // lives on this thread; device news is queued to it
};

} // namespace zq::cli
