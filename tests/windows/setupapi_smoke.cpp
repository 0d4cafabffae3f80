// Checks programmer discovery over SetupAPI: against scripted devices (programmers among other
// devices, names that exclude a device, devices whose queries fail in the middle of the list,
// record sizes) and once against wine's real SetupAPI, which has no USB devices.
// Built and run under wine by `make check-windows`; exits nonzero when any check fails.

#include "SmokeCheck.h"
#include "usb/winusb/SetupApiDiscovery.h"

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using zq::winusb::findProgrammers;
using zq::winusb::kUsbDeviceInterfaceClass;
using zq::winusb::SetupApiCalls;
using Paths = std::vector<std::wstring>;

namespace
{

struct FakeDevice {
    const wchar_t *friendlyName; // null: the property cannot be read
    const wchar_t *description;  // null: the property cannot be read
    std::wstring path;
    bool interfaceOk = true;
    bool detailOk = true;
};

// The devices the stand-in calls list, and what the calls saw.
struct Script {
    bool setAvailable = true;
    std::vector<FakeDevice> devices;
    int sets = 0;
    int destroys = 0;
    int wrongArguments = 0; // a call refused for a size, a record or an argument it must not get
};

Script *script = nullptr;

HDEVINFO const kSet = reinterpret_cast<HDEVINFO>(0x3000);

bool refuse(DWORD error, bool wrongArguments = false)
{
    script->wrongArguments += wrongArguments ? 1 : 0;
    SetLastError(error);
    return false;
}

const FakeDevice *deviceOf(ULONG_PTR number)
{
    if (number == 0 || number > script->devices.size())
        return nullptr;
    return &script->devices[number - 1];
}

HDEVINFO WINAPI fakeGetClassDevs(const GUID *classGuid, PCWSTR enumerator, HWND parent, DWORD flags)
{
    const bool asExpected = classGuid && IsEqualGUID(*classGuid, kUsbDeviceInterfaceClass) &&
                            !enumerator && !parent &&
                            flags == (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (!asExpected || !script->setAvailable) {
        refuse(ERROR_INVALID_PARAMETER, !asExpected);
        return INVALID_HANDLE_VALUE;
    }
    ++script->sets;
    return kSet;
}

WINBOOL WINAPI fakeEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device)
{
    if (set != kSet || !device || device->cbSize != sizeof(SP_DEVINFO_DATA))
        return refuse(ERROR_INVALID_USER_BUFFER, true);
    if (index >= script->devices.size())
        return refuse(ERROR_NO_MORE_ITEMS);
    device->ClassGuid = kUsbDeviceInterfaceClass;
    device->DevInst = index + 1;
    return TRUE;
}

// A failed read leaves "xxx" behind, so a search that trusts a buffer after a failure passes
// over a device it must examine.
WINBOOL WINAPI fakeGetDeviceRegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                             PDWORD type, PBYTE buffer, DWORD size, PDWORD required)
{
    const FakeDevice *fake = device ? deviceOf(device->DevInst) : nullptr;
    if (set != kSet || !fake || size < 520)
        return refuse(ERROR_INVALID_PARAMETER, true);
    const wchar_t *name = property == SPDRP_FRIENDLYNAME ? fake->friendlyName
                          : property == SPDRP_DEVICEDESC ? fake->description
                                                         : nullptr;
    if (!name) {
        std::memcpy(buffer, L"xxx", 4 * sizeof(wchar_t));
        return refuse(ERROR_INVALID_DATA);
    }
    const DWORD bytes = DWORD((std::wcslen(name) + 1) * sizeof(wchar_t));
    if (required)
        *required = bytes;
    if (bytes > size)
        return refuse(ERROR_INSUFFICIENT_BUFFER);
    if (type)
        *type = REG_SZ;
    std::memcpy(buffer, name, bytes);
    return TRUE;
}

// Only a device's own record with member 0 names that device's interface; member index n of the
// whole set would be another device's.
WINBOOL WINAPI fakeEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                        const GUID *classGuid, DWORD member,
                                        PSP_DEVICE_INTERFACE_DATA data)
{
    const FakeDevice *fake = device ? deviceOf(device->DevInst) : nullptr;
    if (set != kSet || !fake || device->cbSize != sizeof(SP_DEVINFO_DATA) || member != 0 ||
        !classGuid || !IsEqualGUID(*classGuid, kUsbDeviceInterfaceClass) || !data ||
        data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return refuse(ERROR_INVALID_PARAMETER, true);
    if (!fake->interfaceOk)
        return refuse(ERROR_NO_MORE_ITEMS);
    data->InterfaceClassGuid = *classGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = device->DevInst;
    return TRUE;
}

WINBOOL WINAPI fakeGetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                            PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size,
                                            PDWORD required, PSP_DEVINFO_DATA)
{
    const FakeDevice *fake = data ? deviceOf(data->Reserved) : nullptr;
    if (set != kSet || !fake || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || !detail ||
        detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || size != 1024)
        return refuse(ERROR_INVALID_USER_BUFFER, true);
    if (!fake->detailOk)
        return refuse(ERROR_GEN_FAILURE);
    const DWORD bytes = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                              (fake->path.size() + 1) * sizeof(wchar_t));
    if (required)
        *required = bytes;
    if (bytes > size)
        return refuse(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(detail->DevicePath, fake->path.c_str(), (fake->path.size() + 1) * sizeof(wchar_t));
    return TRUE;
}

WINBOOL WINAPI fakeDestroyDeviceInfoList(HDEVINFO set)
{
    if (set != kSet)
        return refuse(ERROR_INVALID_HANDLE, true);
    ++script->destroys;
    return TRUE;
}

const SetupApiCalls fakeCalls{
    &fakeGetClassDevs,         &fakeEnumDeviceInfo,           &fakeGetDeviceRegistryProperty,
    &fakeEnumDeviceInterfaces, &fakeGetDeviceInterfaceDetail, &fakeDestroyDeviceInfoList};

std::wstring usbPath(const std::wstring &ids, const std::wstring &instance)
{
    return L"\\\\?\\usb#" + ids + L"#" + instance + L"#{88bae032-5a81-49f0-bc3d-a4ff138216d6}";
}

const std::wstring kFirst = usbPath(L"vid_5a17&pid_c0d2", L"6&1a2b3c4d&0&1");
const std::wstring kSecond = usbPath(L"vid_5a17&pid_c0d2", L"6&1a2b3c4d&0&4");

// SetupAPI refuses a record whose size field is not its own platform's: 64-bit Windows wants 32,
// 32 and 8 where 32-bit Windows wants 28, 28 and 6.
void recordSizesAreThePlatforms()
{
#if defined(_WIN64)
    CHECK(sizeof(SP_DEVINFO_DATA) == 32);
    CHECK(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
    CHECK(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
#else
    CHECK(sizeof(SP_DEVINFO_DATA) == 28);
    CHECK(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
    CHECK(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6);
#endif
    CHECK((DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) == 18);
}

void programmersAmongOtherDevices()
{
    Script s;
    script = &s;
    s.devices = {
        {L"ZQ Programmer", L"USB device", kFirst},
        {L"USB Input Device", L"USB Input Device", usbPath(L"vid_046d&pid_c077", L"5&2f&0&2")},
        {L"ZQ Programmer", nullptr, usbPath(L"VID_5A17&PID_C0D2", L"6&1a2b3c4d&0&2")},
        {L"xxx", L"ZQ Programmer", usbPath(L"vid_5a17&pid_c0d2", L"6&1a2b3c4d&0&3")},
        {L"ZQ Programmer", nullptr, usbPath(L"vid_5a17&pid_c0d2", L"7&0&0&1"), false},
        {L"ZQ Programmer", nullptr, usbPath(L"vid_5a17&pid_c0d2", L"7&0&0&2"), true, false},
        {L"ZQ Programmer", L"USB device", kSecond},
    };
    CHECK(findProgrammers(fakeCalls) == (Paths{kFirst, kSecond}));
    CHECK(s.wrongArguments == 0);
    CHECK(s.sets == 1);
    CHECK(s.destroys == 1);
}

// The friendly name decides when there is one; the description only when there is not; a
// device with neither is examined like any other.
void namesThatPassOverADevice()
{
    Script s;
    script = &s;
    const std::wstring described = usbPath(L"vid_5a17&pid_c0d2", L"6&0&0&5");
    const std::wstring unnamed = usbPath(L"vid_5a17&pid_c0d2", L"6&0&0&6");
    const std::wstring friendly = usbPath(L"vid_5a17&pid_c0d2", L"6&0&0&7");
    const std::wstring almost = usbPath(L"vid_5a17&pid_c0d2", L"6&0&0&8");
    s.devices = {
        {nullptr, L"xxx", usbPath(L"vid_5a17&pid_c0d2", L"6&0&0&4")},
        {nullptr, L"ZQ Programmer", described},
        {L"xxx", nullptr, usbPath(L"vid_5a17&pid_c0d2", L"6&0&0&9")},
        {nullptr, nullptr, unnamed},
        {L"ZQ Programmer", L"xxx", friendly},
        {L"XXX", nullptr, almost},
    };
    CHECK(findProgrammers(fakeCalls) == (Paths{described, unnamed, friendly, almost}));
    CHECK(s.wrongArguments == 0);
}

// A path that does not fit the 1024-byte detail record cannot be read; the search goes on.
void pathsUpToTheDetailRecordsSize()
{
    Script s;
    script = &s;
    const size_t fits =
        (1024 - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t) - 1;
    const std::wstring longest = kFirst + std::wstring(fits - kFirst.size(), L'a');
    s.devices = {{L"ZQ Programmer", nullptr, longest},
                 {L"ZQ Programmer", nullptr, longest + L"a"},
                 {L"ZQ Programmer", nullptr, kSecond}};
    CHECK(findProgrammers(fakeCalls) == (Paths{longest, kSecond}));
    CHECK(s.wrongArguments == 0);
}

void noDeviceList()
{
    Script unavailable;
    script = &unavailable;
    unavailable.setAvailable = false;
    unavailable.devices = {{L"ZQ Programmer", nullptr, kFirst}};
    CHECK(findProgrammers(fakeCalls).empty());
    CHECK(unavailable.wrongArguments == 0);
    CHECK(unavailable.destroys == 0);

    Script empty;
    script = &empty;
    CHECK(findProgrammers(fakeCalls).empty());
    CHECK(empty.wrongArguments == 0);
    CHECK(empty.sets == 1);
    CHECK(empty.destroys == 1);
}

// wine's SetupAPI knows the class but has no USB devices: a list that ends at once, not an error.
void realSetupApiWithoutDevices()
{
    const HDEVINFO set = SetupDiGetClassDevsW(&kUsbDeviceInterfaceClass, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    CHECK(set != INVALID_HANDLE_VALUE);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        CHECK(!SetupDiEnumDeviceInfo(set, 0, &device));
        CHECK(GetLastError() == ERROR_NO_MORE_ITEMS);
        CHECK(SetupDiDestroyDeviceInfoList(set) != FALSE);
    }
    CHECK(findProgrammers().empty());
}

} // namespace

int main()
{
    recordSizesAreThePlatforms();
    programmersAmongOtherDevices();
    namesThatPassOverADevice();
    pathsUpToTheDetailRecordsSize();
    noDeviceList();
    realSetupApiWithoutDevices();
    return zq::smoke::verdict("setupapi smoke");
}
