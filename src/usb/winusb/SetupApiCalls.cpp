#include "usb/winusb/SetupApiCalls.h"

namespace zq::winusb
{

const SetupApiCalls &systemSetupApiCalls()
{
    static const SetupApiCalls calls{
        &::SetupDiGetClassDevsW,
        &::SetupDiEnumDeviceInfo,
        &::SetupDiGetDeviceRegistryPropertyW,
        &::SetupDiEnumDeviceInterfaces,
        &::SetupDiGetDeviceInterfaceDetailW,
        &::SetupDiDestroyDeviceInfoList,
    };
    return calls;
}

} // namespace zq::winusb
