#include "usb/winusb/DeviceNotifications.h"

#include "usb/winusb/SetupApiDiscovery.h"

#include <cstddef>

namespace zq::winusb
{
namespace
{

// The name runs from the end of the record's fixed part to its terminating zero. The record's
// own size bounds it, so a name without a terminator is never read past the record.
std::wstring interfaceName(const DEV_BROADCAST_DEVICEINTERFACE_W &record)
{
    constexpr size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (record.dbcc_size <= nameOffset)
        return std::wstring();
    const size_t capacity = (record.dbcc_size - nameOffset) / sizeof(wchar_t);
    const wchar_t *name = record.dbcc_name;
    size_t length = 0;
    while (length < capacity && name[length] != L'\0')
        ++length;
    return std::wstring(name, length);
}

} // namespace

DeviceChange decodeDeviceChange(WPARAM eventCode, LPARAM record)
{
    DeviceChange change;
    if (eventCode != DBT_DEVICEARRIVAL && eventCode != DBT_DEVICEREMOVECOMPLETE)
        return change;
    const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(record);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return change;
    change.kind =
        eventCode == DBT_DEVICEARRIVAL ? DeviceChange::Kind::Arrival : DeviceChange::Kind::Removal;
    change.name = interfaceName(*reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(header));
    return change;
}

DEV_BROADCAST_DEVICEINTERFACE_W deviceInterfaceFilter()
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = kUsbDeviceInterfaceClass;
    filter.dbcc_name[0] = L'\0';
    return filter;
}

HDEVNOTIFY registerForDeviceInterfaceNotifications(HWND window,
                                                   RegisterDeviceNotificationCall registerCall)
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter = deviceInterfaceFilter();
    return registerCall(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

} // namespace zq::winusb
