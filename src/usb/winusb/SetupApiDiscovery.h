#pragma once

#include "usb/winusb/SetupApiCalls.h"

#include <string>
#include <vector>

namespace zq::winusb
{

// The interface paths of the programmers present, in the order Windows lists the devices of the
// USB device interface class; empty when the device list cannot be had. A path belongs to a
// programmer when it holds the identity fragment in exactly its case. A device named "xxx" is
// passed over, and a device whose interface cannot be queried is skipped, not the end of the
// search.
std::vector<std::wstring> findProgrammers(const SetupApiCalls &calls = systemSetupApiCalls());

} // namespace zq::winusb
