#pragma once

// The Windows calls the WinUSB channel makes, gathered in one table so that the channel's rules
// (release once, abort before release, overlapped transfers, pipe discovery) can be exercised
// without a device.

#include <windows.h>

#include <winusb.h>

namespace zq::winusb
{

struct WinUsbCalls {
    decltype(&::CreateFileW) createFile;
    decltype(&::CloseHandle) closeHandle;
    decltype(&::WinUsb_Initialize) initialize;
    decltype(&::WinUsb_Free) freeInterface;
    decltype(&::WinUsb_QueryDeviceInformation) queryDeviceInformation;
    decltype(&::WinUsb_QueryInterfaceSettings) queryInterfaceSettings;
    decltype(&::WinUsb_QueryPipe) queryPipe;
    decltype(&::WinUsb_WritePipe) writePipe;
    decltype(&::WinUsb_ReadPipe) readPipe;
    decltype(&::WinUsb_AbortPipe) abortPipe;
    decltype(&::WinUsb_GetOverlappedResult) getOverlappedResult;
};

// The real kernel32 and winusb.dll entry points.
const WinUsbCalls &systemWinUsbCalls();

} // namespace zq::winusb
