#pragma once

#include <windows.h>

#include <dbt.h>

namespace zq::winusb
{

using RegisterDeviceNotificationCall = decltype(&::RegisterDeviceNotificationW);

// The filter that asks for arrival and removal news of every device interface of the USB device
// class, whatever the device.
DEV_BROADCAST_DEVICEINTERFACE_W deviceInterfaceFilter();

// Has WM_DEVICECHANGE sent to window for the class's interfaces. The returned handle is for the
// caller to keep or drop: the registration lasts as long as the window. Null on failure.
HDEVNOTIFY registerForDeviceInterfaceNotifications(
    HWND window, RegisterDeviceNotificationCall registerCall = &::RegisterDeviceNotificationW);

} // namespace zq::winusb
