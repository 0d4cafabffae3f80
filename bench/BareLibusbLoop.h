#pragma once

// The yardstick for the program's libusb path: the same command frames sent straight through
// libusb's synchronous calls, one frame out and its reply in, nothing else in between (no worker
// thread, no hand-over, no event thread). What the program's path costs beyond this is its own.

#include <cstdint>
#include <vector>

namespace zq::bench
{

struct BareRun {
    bool ok = false;    // the device opened and every frame got its full reply
    double seconds = 0; // the timed frames only
    int exchanges = 0;
};

using Frame = std::vector<uint8_t>;

// Opens the programmer at bus 1 and the given address with a libusb context of its own, sends
// the set-up frames untimed, then times the frames, each followed by a read of its reply.
BareRun runBareLibusbLoop(int address, const std::vector<Frame> &setUp,
                          const std::vector<Frame> &timed);

// The frames of the two block commands the operations send, for an image of the given size:
// SWD writes ('F') for a program run, SPI flash writes ('H') for a download, each block whole.
// (What each operation sends around them is put together by the benchmark.)
std::vector<Frame> blockFrames(uint8_t letter, uint32_t base, int imageSize);
// The SWD frame that brings the target's link up before SWD writes (init) or starts the target
// once it is written (run).
enum class SwdStep { Init, Run };
Frame swdFrame(SwdStep step);
// The block frames carry blockContent(address, length): a pattern that depends on the address.
std::vector<uint8_t> blockContent(uint32_t address, int length);
// The fixed frame of a CRC check over length bytes from start ('G' target flash, 'I' SPI flash)
// that expects what blockFrame wrote there.
Frame checkFrame(uint8_t letter, uint32_t start, uint32_t length);
// One block frame of length bytes at address.
Frame blockFrame(uint8_t letter, uint32_t address, int length);

} // namespace zq::bench
