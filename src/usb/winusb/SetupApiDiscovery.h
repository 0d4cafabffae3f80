#pragma once

// Finding the programmers among the devices Windows lists, through SetupAPI.

#include <windows.h>

#include <setupapi.h>

#include <string>
#include <vector>

namespace zq::winusb
{

// Windows' interface class for USB devices, {88BAE032-5A81-49F0-BC3D-A4FF138216D6}. Our
// programmers are looked for, and their arrival and removal heard of, within this class.
inline constexpr GUID kUsbDeviceInterfaceClass = {
    0x88BAE032, 0x5A81, 0x49F0, {0xBC, 0x3D, 0xA4, 0xFF, 0x13, 0x82, 0x16, 0xD6}};

// The SetupAPI calls programmer discovery makes, gathered in one table so that the search's rules
// (record sizes, each device's own interface, skipping a device that fails) can be exercised
// with scripted devices.
struct SetupApiCalls {
    decltype(&::SetupDiGetClassDevsW) getClassDevs;
    decltype(&::SetupDiEnumDeviceInfo) enumDeviceInfo;
    decltype(&::SetupDiGetDeviceRegistryPropertyW) getDeviceRegistryProperty;
    decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) getDeviceInterfaceDetail;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList;
};

// The real setupapi.dll entry points.
const SetupApiCalls &systemSetupApiCalls();

// The interface paths of the programmers present, in the order Windows lists the devices of the
// USB device interface class; empty when the device list cannot be had. A path belongs to a
// programmer when it holds the identity fragment in exactly its case. A device named "xxx" is
// passed over, and a device whose interface cannot be queried is skipped, not the end of the
// search.
std::vector<std::wstring> findProgrammers(const SetupApiCalls &calls = systemSetupApiCalls());

} // namespace zq::winusb
