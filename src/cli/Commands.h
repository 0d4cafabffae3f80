#pragma once

#include "cli/Output.h"

#include <memory>

namespace zq::usb
{
class UsbTransport;
}

namespace zq::cli
{

struct Options;

// list: every programmer found, and whether it can be opened.
CommandResult runList(const std::shared_ptr<usb::UsbTransport> &transport);

// info and the operations: choose the programmer, open and identify it, refuse what its mode
// does not allow, run the operation and, after an update, wait for the programmer to return.
CommandResult runOnProgrammer(const Options &options, Output &output,
                              const std::shared_ptr<usb::UsbTransport> &transport);

} // namespace zq::cli
