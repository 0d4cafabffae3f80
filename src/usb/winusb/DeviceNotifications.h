#pragma once

// News of programmers arriving and leaving, as Windows sends it to a window: the registration
// that asks for it and the reading of the WM_DEVICECHANGE messages it brings.

#include <windows.h>

#include <dbt.h>

#include <string>

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

// What a WM_DEVICECHANGE message says about a device interface.
struct DeviceChange {
    enum class Kind { Other, Arrival, Removal };
    Kind kind = Kind::Other;
    std::wstring name; // the interface's name as Windows gives it (UTF-16), for arrival and removal
};

// Reads a WM_DEVICECHANGE message's event code and broadcast record. Only an arrival or a
// completed removal of a device interface counts; every other code, a missing record or a record
// of another device type is Other.
DeviceChange decodeDeviceChange(WPARAM eventCode, LPARAM record);

} // namespace zq::winusb
