#include "usb/winusb/WinUsbCalls.h"

namespace zq::winusb
{

const WinUsbCalls &systemWinUsbCalls()
{
    static const WinUsbCalls calls{
        &::CreateFileW,
        &::CloseHandle,
        &::WinUsb_Initialize,
        &::WinUsb_Free,
        &::WinUsb_QueryDeviceInformation,
        &::WinUsb_QueryInterfaceSettings,
        &::WinUsb_QueryPipe,
        &::WinUsb_WritePipe,
        &::WinUsb_ReadPipe,
        &::WinUsb_AbortPipe,
        &::WinUsb_GetOverlappedResult,
    };
    return calls;
}

} // namespace zq::winusb
