#pragma once

#include <windows.h>

namespace zq::winusb
{

// Windows' interface class for USB devices, {88BAE032-5A81-49F0-BC3D-A4FF138216D6}. Our
// programmers are looked for, and their arrival and removal heard of, within this class.
inline constexpr GUID kUsbDeviceInterfaceClass = {
    0x88BAE032, 0x5A81, 0x49F0, {0xBC, 0x3D, 0xA4, 0xFF, 0x13, 0x82, 0x16, 0xD6}};

} // namespace zq::winusb
