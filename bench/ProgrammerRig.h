#pragma once

#include "BenchFrontEnd.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "usb/UsbTransport.h"

#include <memory>

namespace zq::bench
{

// The device, the worker and the operations' session, held by the owner a front end uses.
struct ProgrammerRig {
    explicit ProgrammerRig(std::shared_ptr<usb::UsbTransport> bus)
        : link(std::move(bus), ui), session(link.session())
    {
    }

    BenchFrontEnd ui; // before the link, which reports to it until it is gone
    ops::ProgrammerLink link;
    ops::Session &session;
};

} // namespace zq::bench
