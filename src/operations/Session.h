#pragma once

#include "protocol/CommandSet.h"
#include "operations/ProgrammerState.h"

class UsbDevice;
class USB_BURN_CTRL;

namespace zq
{
class FrontEnd;
}

namespace zq::ops
{

// Everything an operation works with: the device, the worker, the front end that shows it, the
// command set over them, and the shared state. Owned by a front end; operations borrow it.
struct Session {
    Session(UsbDevice &device, USB_BURN_CTRL &worker, FrontEnd &ui)
        : usbDevice(device), burnCtrl(worker), frontEnd(ui), commands(worker, ui)
    {
    }

    UsbDevice &usbDevice;
    USB_BURN_CTRL &burnCtrl;
    FrontEnd &frontEnd;
    protocol::CommandSet commands;
    ProgrammerState state;
};

} // namespace zq::ops
