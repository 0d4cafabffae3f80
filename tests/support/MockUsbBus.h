#pragma once

// A USB bus in a umockdev testbed, with programmers that answer the usbdevfs calls libusb makes.
// A programmer either echoes (every bulk OUT transfer comes back as one bulk IN packet of the same
// bytes; a zero-length write gives a zero-length packet) or is backed by an emulated board, which
// takes each bulk OUT transfer as a command frame and queues its reply packets for bulk IN. Kept
// free of Qt headers, which clash with GLib's.
//
// The test process must run with libumockdev-preload.so.0 in LD_PRELOAD;
// MockUsbBus::ensurePreloaded() re-executes the program with it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zq::emu
{
class Board;
}

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
    // The same with the board behind it. The board's reply faults apply (no reply, damaged
    // replies); its timing faults, "board gone" and restarts are the in-process bus's business
    // and are not played here.
    int plugProgrammer(std::shared_ptr<zq::emu::Board> board);
    // A programmer plugged into the given port of the root hub, at a new address (as a board
    // put back into the port it was pulled from); plugProgrammer() takes the port equal to the
    // address.
    int plugProgrammerAtPort(int port);
    // Takes every permission bit off the device node, as a node without the udev rule looks to a
    // user who is not root. False when the node is not there.
    bool denyAccess(int address);
    // The device node as the client sees it (redirected into the testbed by the preload).
    static std::string nodePath(int address);
    // Like a real unplug: in-flight transfers end with ESHUTDOWN, later calls fail with ENODEV.
    void unplug(int address);

    // A real kernel carries out a call on its caller's core. From now on (until called with 0)
    // the thread that stands for it here follows the given thread of this process from core to
    // core, looking where it runs once a millisecond; with 0 the scheduler places it again.
    // Benchmarks name the thread that makes the calls, so that the emulated kernel costs a
    // program what a real one would and not a hand-over between cores.
    static void serveBeside(int threadId);

private:
    // What a board sends back for one bulk OUT transfer: its bulk IN packets, in order.
    using Responder = std::function<std::vector<std::vector<uint8_t>>(const uint8_t *, size_t)>;
    int plug(Responder responder, int port = 0);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
