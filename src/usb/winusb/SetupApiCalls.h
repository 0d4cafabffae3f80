#pragma once

// The SetupAPI calls programmer discovery makes, gathered in one table so that the search's rules
// (record sizes, each device's own interface, skipping a device that fails) can be exercised
// with scripted devices.

#include <windows.h>

#include <setupapi.h>

namespace zq::winusb
{

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

} // namespace zq::winusb
