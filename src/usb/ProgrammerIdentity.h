#pragma once

#include <cstdint>

namespace zq::usb
{

// How a programmer is recognised on every bus: its USB vendor and product ids, and the same
// pair as the fragment its device path holds (exact case; a path with the fragment in upper
// case only is not a programmer's).
constexpr uint16_t kProgrammerVendorId = 0x5A17;
constexpr uint16_t kProgrammerProductId = 0xC0D2;
constexpr const char *kIdentityFragment = "vid_5a17&pid_c0d2";

} // namespace zq::usb
