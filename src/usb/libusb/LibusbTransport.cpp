#include "usb/ProgrammerIdentity.h"
#include "usb/UsbTransport.h"
#include "usb/libusb/DevicePathText.h"
#include "usb/libusb/LibusbContext.h"
#include "usb/libusb/LibusbOpen.h"

#include <utility>

namespace zq::usb
{
namespace
{

QStringList programmerPaths(libusb_context *context)
{
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    QStringList found;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS ||
            descriptor.idVendor != kProgrammerVendorId ||
            descriptor.idProduct != kProgrammerProductId)
            continue;
        found.append(devicePathText(list[i]));
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    found.sort(); // a stable order from one search to the next
    return found;
}

class LibusbTransport : public UsbTransport
{
public:
    explicit LibusbTransport(std::shared_ptr<LibusbContext> context) : context_(std::move(context))
    {
    }
    ~LibusbTransport() override { setDeviceListener(nullptr); }

    // Lists programmers whether or not this user may open them, so the list shows the board
    // and the open names the cause.
    QStringList findProgrammers() override
    {
        return context_ ? programmerPaths(context_->get()) : QStringList();
    }

    std::shared_ptr<UsbChannel> openChannel(const QString &path, OpenError *error) override
    {
        OpenError cause = OpenError::NotFound;
        std::shared_ptr<UsbChannel> channel;
        if (context_)
            channel = openLibusbChannel(context_, path, &cause);
        if (error)
            *error = cause;
        return channel;
    }

    void setDeviceListener(DeviceListener listener) override
    {
        if (context_)
            context_->setDeviceListener(std::move(listener));
    }

private:
    std::shared_ptr<LibusbContext> context_; // null when libusb could not start
};

} // namespace

std::shared_ptr<UsbTransport> makeLibusbTransport()
{
    return std::make_shared<LibusbTransport>(LibusbContext::create());
}

} // namespace zq::usb
