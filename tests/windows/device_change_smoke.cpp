// Checks the device-notification helpers: the filter record and its registration (scripted, and
// once for real under wine with a real window), and the reading of hand-built WM_DEVICECHANGE
// broadcast records.
// Built and run under wine by `make check-windows`; exits nonzero when any check fails.

#include "SmokeCheck.h"
#include "usb/winusb/DeviceNotifications.h"
#include "usb/winusb/SetupApiDiscovery.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using zq::winusb::decodeDeviceChange;
using zq::winusb::DeviceChange;
using zq::winusb::kUsbDeviceInterfaceClass;
using Kind = zq::winusb::DeviceChange::Kind;

namespace
{

const std::wstring kPath = L"\\\\?\\USB#VID_5A17&PID_C0D2#6&1a2b3c4d&0&1#{88bae032-5a81-49f0-"
                           L"bc3d-a4ff138216d6}";

// A broadcast record as Windows hands it over: the fixed part, then the name. Whatever follows
// the record is not zero, so reading past its size would show.
class Broadcast
{
public:
    Broadcast(DWORD deviceType, const std::wstring &name, bool terminated = true)
        : storage_(64 + name.size() / 4, UINT64_C(0x5A5A5A5A5A5A5A5A))
    {
        const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
        const size_t chars = name.size() + (terminated ? 1 : 0);
        DEV_BROADCAST_DEVICEINTERFACE_W fixed{};
        fixed.dbcc_size = DWORD(nameOffset + chars * sizeof(wchar_t));
        fixed.dbcc_devicetype = deviceType;
        fixed.dbcc_classguid = kUsbDeviceInterfaceClass;
        auto *bytes = reinterpret_cast<unsigned char *>(storage_.data());
        std::memcpy(bytes, &fixed, nameOffset);
        std::memcpy(bytes + nameOffset, name.c_str(), chars * sizeof(wchar_t));
    }

    LPARAM lParam() const { return reinterpret_cast<LPARAM>(storage_.data()); }

private:
    std::vector<uint64_t> storage_;
};

bool is(const DeviceChange &change, Kind kind, const std::wstring &name)
{
    return change.kind == kind && change.name == name;
}

void filterRecord()
{
    const DEV_BROADCAST_DEVICEINTERFACE_W filter = zq::winusb::deviceInterfaceFilter();
    CHECK(filter.dbcc_size == sizeof(DEV_BROADCAST_DEVICEINTERFACE_W));
#if defined(_WIN64)
    CHECK(filter.dbcc_size == 32);
#endif
    CHECK(filter.dbcc_devicetype == 5);
    CHECK(filter.dbcc_reserved == 0);
    CHECK(IsEqualGUID(filter.dbcc_classguid, kUsbDeviceInterfaceClass));
    CHECK(filter.dbcc_name[0] == L'\0');
    const unsigned char guidBytes[16] = {0x32, 0xE0, 0xBA, 0x88, 0x81, 0x5A, 0xF0, 0x49,
                                         0xBC, 0x3D, 0xA4, 0xFF, 0x13, 0x82, 0x16, 0xD6};
    CHECK(std::memcmp(&filter.dbcc_classguid, guidBytes, 16) == 0);
}

struct Registration {
    int calls = 0;
    HANDLE recipient = nullptr;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    DWORD flags = 0xFFFFFFFF;
};

Registration *registration = nullptr;
HDEVNOTIFY const kNotification = reinterpret_cast<HDEVNOTIFY>(0x4000);

HDEVNOTIFY WINAPI fakeRegisterDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags)
{
    ++registration->calls;
    registration->recipient = recipient;
    std::memcpy(&registration->filter, filter, sizeof(registration->filter));
    registration->flags = flags;
    return kNotification;
}

void registersTheWindowWithTheFilter()
{
    Registration seen;
    registration = &seen;
    const HWND window = reinterpret_cast<HWND>(0x5000);
    CHECK(zq::winusb::registerForDeviceInterfaceNotifications(
              window, &fakeRegisterDeviceNotification) == kNotification);
    CHECK(seen.calls == 1);
    CHECK(seen.recipient == window);
    CHECK(seen.flags == DEVICE_NOTIFY_WINDOW_HANDLE);
    CHECK(seen.filter.dbcc_size == sizeof(DEV_BROADCAST_DEVICEINTERFACE_W));
    CHECK(seen.filter.dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE);
    CHECK(IsEqualGUID(seen.filter.dbcc_classguid, kUsbDeviceInterfaceClass));
}

// A message-only window: wine without a display creates no top-level one, and Windows sends
// device news to either kind.
void realRegistrationUnderWine()
{
    const HWND window = CreateWindowExW(0, L"STATIC", L"zq", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    CHECK(window != nullptr);
    if (!window)
        return;
    const HDEVNOTIFY notification = zq::winusb::registerForDeviceInterfaceNotifications(window);
    CHECK(notification != nullptr);
    if (notification)
        CHECK(UnregisterDeviceNotification(notification) != FALSE);
    DestroyWindow(window);
}

void arrivalAndRemoval()
{
    const Broadcast record(DBT_DEVTYP_DEVICEINTERFACE, kPath);
    // The name as Windows gave it: turning it into upper case is the window's business.
    const std::wstring mixedCase = L"\\\\?\\usb#vid_5a17&pid_c0d2#6&1A2B&0&1#{guid}";
    const Broadcast mixed(DBT_DEVTYP_DEVICEINTERFACE, mixedCase);
    CHECK(is(decodeDeviceChange(DBT_DEVICEARRIVAL, record.lParam()), Kind::Arrival, kPath));
    CHECK(is(decodeDeviceChange(DBT_DEVICEREMOVECOMPLETE, record.lParam()), Kind::Removal, kPath));
    CHECK(is(decodeDeviceChange(0x8000, mixed.lParam()), Kind::Arrival, mixedCase));
    CHECK(is(decodeDeviceChange(0x8004, mixed.lParam()), Kind::Removal, mixedCase));
    const Broadcast unnamed(DBT_DEVTYP_DEVICEINTERFACE, L"");
    CHECK(is(decodeDeviceChange(DBT_DEVICEARRIVAL, unnamed.lParam()), Kind::Arrival, L""));
}

void messagesThatSayNothing()
{
    const Broadcast record(DBT_DEVTYP_DEVICEINTERFACE, kPath);
    CHECK(is(decodeDeviceChange(DBT_DEVICEQUERYREMOVE, record.lParam()), Kind::Other, L""));
    CHECK(is(decodeDeviceChange(DBT_DEVICEREMOVEPENDING, record.lParam()), Kind::Other, L""));
    CHECK(is(decodeDeviceChange(DBT_DEVNODES_CHANGED, 0), Kind::Other, L""));
    CHECK(is(decodeDeviceChange(DBT_DEVICEARRIVAL, 0), Kind::Other, L""));
    CHECK(is(decodeDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0), Kind::Other, L""));
    const Broadcast volume(DBT_DEVTYP_VOLUME, L"");
    const Broadcast handle(DBT_DEVTYP_HANDLE, kPath);
    CHECK(is(decodeDeviceChange(DBT_DEVICEARRIVAL, volume.lParam()), Kind::Other, L""));
    CHECK(is(decodeDeviceChange(DBT_DEVICEREMOVECOMPLETE, handle.lParam()), Kind::Other, L""));
}

void longAndUnterminatedNames()
{
    std::wstring longName = kPath;
    while (longName.size() < 2000)
        longName += L"#segment";
    const Broadcast record(DBT_DEVTYP_DEVICEINTERFACE, longName);
    CHECK(is(decodeDeviceChange(DBT_DEVICEARRIVAL, record.lParam()), Kind::Arrival, longName));
    // The record's size ends a name that has no terminator inside it.
    const Broadcast unterminated(DBT_DEVTYP_DEVICEINTERFACE, kPath, false);
    CHECK(is(decodeDeviceChange(DBT_DEVICEREMOVECOMPLETE, unterminated.lParam()), Kind::Removal,
             kPath));
}

} // namespace

int main()
{
    filterRecord();
    registersTheWindowWithTheFilter();
    realRegistrationUnderWine();
    arrivalAndRemoval();
    messagesThatSayNothing();
    longAndUnterminatedNames();
    return zq::smoke::verdict("device change smoke");
}
