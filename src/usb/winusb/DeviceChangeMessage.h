#pragma once

#include <windows.h>

#include <string>

namespace zq::winusb
{

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
