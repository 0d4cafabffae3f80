#include "usb/winusb/SetupApiDiscovery.h"

#include "usb/ProgrammerIdentity.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

namespace zq::winusb
{
namespace
{

constexpr DWORD kDetailBufferSize = 1024;
constexpr DWORD kNameChars = 260;
constexpr wchar_t kExcludedName[] = L"xxx";

const std::wstring &identityFragment()
{
    static const std::wstring fragment(
        usb::kIdentityFragment, usb::kIdentityFragment + std::strlen(usb::kIdentityFragment));
    return fragment;
}

// The friendly name, or the description when there is none; empty when neither can be read.
// A fresh buffer for each device: a device without either must not inherit the name of the one
// before it.
std::wstring deviceName(const SetupApiCalls &calls, HDEVINFO set, SP_DEVINFO_DATA *device)
{
    wchar_t name[kNameChars] = {};
    const auto read = [&](DWORD property) {
        std::memset(name, 0, sizeof(name));
        return calls.getDeviceRegistryProperty(set, device, property, nullptr,
                                               reinterpret_cast<PBYTE>(name), sizeof(name),
                                               nullptr) != FALSE;
    };
    if (!read(SPDRP_FRIENDLYNAME) && !read(SPDRP_DEVICEDESC))
        std::memset(name, 0, sizeof(name));
    return std::wstring(name, wcsnlen(name, kNameChars));
}

// The device's own interface of the class (member 0 of that device, not of the whole set) and
// its path; false when either query fails.
bool interfacePath(const SetupApiCalls &calls, HDEVINFO set, SP_DEVINFO_DATA *device,
                   SP_DEVICE_INTERFACE_DETAIL_DATA_W *detail, std::wstring *path)
{
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!calls.enumDeviceInterfaces(set, device, &kUsbDeviceInterfaceClass, 0, &interfaceData))
        return false;
    std::memset(detail, 0, kDetailBufferSize);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!calls.getDeviceInterfaceDetail(set, &interfaceData, detail, kDetailBufferSize, nullptr,
                                        nullptr))
        return false;
    constexpr size_t maxChars =
        (kDetailBufferSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) /
        sizeof(wchar_t);
    path->assign(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars));
    return true;
}

} // namespace

std::vector<std::wstring> findProgrammers(const SetupApiCalls &calls)
{
    std::vector<std::wstring> paths;
    const HDEVINFO set = calls.getClassDevs(&kUsbDeviceInterfaceClass, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return paths;

    // Every record is sized with sizeof: the sizes differ between 32- and 64-bit Windows, and
    // SetupAPI refuses a record whose size is not its own platform's.
    alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_W) unsigned char buffer[kDetailBufferSize];
    auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(buffer);
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!calls.enumDeviceInfo(set, index, &device))
            break;
        if (deviceName(calls, set, &device) == kExcludedName)
            continue;
        std::wstring path;
        if (!interfacePath(calls, set, &device, detail, &path))
            continue;
        if (path.find(identityFragment()) != std::wstring::npos)
            paths.push_back(path);
    }
    calls.destroyDeviceInfoList(set);
    return paths;
}

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
