#pragma once

// A USB bus in a umockdev testbed, with programmers that answer the usbdevfs calls libusb makes.
// Each board echoes: every bulk OUT transfer comes back as one bulk IN packet of the same bytes
// (a zero-length write gives a zero-length packet). Kept free of Qt headers, which clash with
// GLib's.
//
// The test process must run with libumockdev-preload.so.0 in LD_PRELOAD;
// MockUsbBus::ensurePreloaded() re-executes the program with it.

#include <memory>
#include <string>

class MockUsbBus
{
public:
    // Returns only when the preload is active (or when it cannot be found: then false).
    static bool ensurePreloaded(char **argv);

    MockUsbBus();
    ~MockUsbBus();
    MockUsbBus(const MockUsbBus &) = delete;
    MockUsbBus &operator=(const MockUsbBus &) = delete;

    // Plugs a programmer in at bus 1 and a new address; returns the address.
    int plugProgrammer();
    // Like a real unplug: in-flight transfers end with ESHUTDOWN, later calls fail with ENODEV.
    void unplug(int address);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
