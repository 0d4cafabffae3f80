#include "usb/libusb/LibusbOpen.h"

#include "usb/PipeDiscovery.h"
#include "usb/ProgrammerIdentity.h"
#include "usb/libusb/DevicePathText.h"
#include "usb/libusb/LibusbChannel.h"

namespace zq::usb
{
namespace
{

OpenError openErrorOf(int libusbError)
{
    switch (libusbError) {
    case LIBUSB_ERROR_ACCESS:
        return OpenError::Permission;
    case LIBUSB_ERROR_BUSY:
        return OpenError::Busy;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return OpenError::NotFound;
    default:
        return OpenError::Other;
    }
}

bool isProgrammerAt(libusb_device *device, const QString &path)
{
    libusb_device_descriptor descriptor{};
    return libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
           descriptor.idVendor == kProgrammerVendorId &&
           descriptor.idProduct == kProgrammerProductId && devicePathText(device) == path;
}

// Opens the device at path, if it is a programmer; the cause in *error otherwise.
libusb_device_handle *openDeviceAt(libusb_context *context, const QString &path, OpenError *error)
{
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device_handle *handle = nullptr;
    *error = OpenError::NotFound;
    for (ssize_t i = 0; i < count; ++i) {
        if (!isProgrammerAt(list[i], path))
            continue;
        const int result = libusb_open(list[i], &handle);
        *error = result == LIBUSB_SUCCESS ? OpenError::None : openErrorOf(result);
        break;
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    return *error == OpenError::None ? handle : nullptr;
}

const libusb_interface_descriptor *interfaceZero(const libusb_config_descriptor *config)
{
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        for (int alt = 0; alt < interface.num_altsetting; ++alt) {
            const libusb_interface_descriptor &setting = interface.altsetting[alt];
            if (setting.bInterfaceNumber == 0 && setting.bAlternateSetting == 0)
                return &setting;
        }
    }
    return nullptr;
}

BulkPipes findBulkPipes(libusb_device *device)
{
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS)
        return BulkPipes{};
    BulkPipes pipes;
    if (const libusb_interface_descriptor *setting = interfaceZero(config)) {
        pipes = discoverBulkPipes(setting->bNumEndpoints, [&](int index, EndpointQuery *out) {
            const libusb_endpoint_descriptor &endpoint = setting->endpoint[index];
            out->type = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
            out->address = endpoint.bEndpointAddress;
            return true;
        });
    }
    libusb_free_config_descriptor(config);
    return pipes;
}

uint8_t speedCode(libusb_device *device)
{
    switch (libusb_get_device_speed(device)) {
    case LIBUSB_SPEED_LOW:
        return 1;
    case LIBUSB_SPEED_FULL:
        return 2;
    case LIBUSB_SPEED_UNKNOWN:
        return 2; // the record's own default
    default:
        return 3; // high speed and above: the fastest the record knows
    }
}

} // namespace

std::shared_ptr<UsbChannel> openLibusbChannel(const std::shared_ptr<LibusbContext> &context,
                                              const QString &path, OpenError *error)
{
    libusb_device_handle *handle = openDeviceAt(context->get(), path, error);
    if (!handle)
        return nullptr;
    const int claimed = libusb_claim_interface(handle, 0);
    if (claimed != LIBUSB_SUCCESS) {
        *error = openErrorOf(claimed);
        libusb_close(handle);
        return nullptr;
    }
    libusb_device *device = libusb_get_device(handle);
    const BulkPipes pipes = findBulkPipes(device);
    if (!pipes.usable()) {
        *error = OpenError::NoPipes;
        libusb_release_interface(handle, 0);
        libusb_close(handle);
        return nullptr;
    }
    const UsbChannel::PipeInfo info{speedCode(device), pipes.inPipe, pipes.outPipe};
    return std::make_shared<LibusbChannel>(context, handle, info);
}

} // namespace zq::usb
