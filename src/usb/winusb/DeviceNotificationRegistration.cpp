#include "usb/winusb/DeviceNotificationRegistration.h"

#include "usb/winusb/UsbDeviceInterfaceClass.h"

namespace zq::winusb
{

DEV_BROADCAST_DEVICEINTERFACE_W deviceInterfaceFilter()
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = kUsbDeviceInterfaceClass;
    filter.dbcc_name[0] = L'\0';
    return filter;
}

HDEVNOTIFY registerForDeviceInterfaceNotifications(HWND window,
                                                   RegisterDeviceNotificationCall registerCall)
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter = deviceInterfaceFilter();
    return registerCall(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

} // namespace zq::winusb
