#pragma once

#include "BenchFrontEnd.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <memory>

namespace zq::bench
{

// The device, the worker and the operations' session, held the way a front end holds them.
struct ProgrammerRig {
    explicit ProgrammerRig(std::shared_ptr<usb::UsbTransport> bus)
        : transport(std::move(bus)), device(transport), session(device, worker, ui)
    {
        worker.device = &device;
    }
    ~ProgrammerRig() { ops::stopProgrammer(session); }
    ProgrammerRig(const ProgrammerRig &) = delete;
    ProgrammerRig &operator=(const ProgrammerRig &) = delete;

    std::shared_ptr<usb::UsbTransport> transport;
    UsbDevice device;
    USB_BURN_CTRL worker;
    BenchFrontEnd ui;
    ops::Session session;
};

} // namespace zq::bench
