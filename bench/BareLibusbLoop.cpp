#include "BareLibusbLoop.h"

#include "common/Crc32.h"
#include "protocol/CommandFrame.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>

namespace zq::bench
{
namespace
{

constexpr uint8_t kOutPipe = 0x01;
constexpr uint8_t kInPipe = 0x81;
constexpr unsigned kTimeoutMs = 2000;

libusb_device_handle *openAt(libusb_context *context, int address)
{
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device_handle *handle = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(list[i]) == 1 && libusb_get_device_address(list[i]) == address)
            libusb_open(list[i], &handle);
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    if (handle && libusb_claim_interface(handle, 0) != LIBUSB_SUCCESS) {
        libusb_close(handle);
        handle = nullptr;
    }
    return handle;
}

// The CRC checks answer with progress packets (status 1 in byte 8) before their verdict.
bool isCheck(const Frame &frame)
{
    const uint8_t letter = frame[2];
    return letter == 'G' || letter == 'I' || letter == 'L';
}

// One frame out, its reply in (a check's progress packets first); true when the reply has the
// length of a block reply.
bool exchange(libusb_device_handle *handle, const Frame &frame)
{
    int moved = 0;
    if (libusb_bulk_transfer(handle, kOutPipe, const_cast<uint8_t *>(frame.data()),
                             int(frame.size()), &moved, kTimeoutMs) != LIBUSB_SUCCESS)
        return false;
    uint8_t reply[512];
    do {
        if (libusb_bulk_transfer(handle, kInPipe, reply, sizeof reply, &moved, kTimeoutMs) !=
                LIBUSB_SUCCESS ||
            moved < protocol::kReplySize)
            return false;
    } while (isCheck(frame) && reply[8] == 1);
    return true;
}

} // namespace

BareRun runBareLibusbLoop(int address, const std::vector<Frame> &setUp,
                          const std::vector<Frame> &timed)
{
    BareRun run;
    libusb_context *context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS)
        return run;
    if (libusb_device_handle *handle = openAt(context, address)) {
        bool ok = std::all_of(setUp.begin(), setUp.end(),
                              [handle](const Frame &frame) { return exchange(handle, frame); });
        const auto start = std::chrono::steady_clock::now();
        for (const Frame &frame : timed) {
            if (!ok)
                break;
            ok = exchange(handle, frame);
            ++run.exchanges;
        }
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.ok = ok;
        libusb_release_interface(handle, 0);
        libusb_close(handle);
    }
    libusb_exit(context);
    return run;
}

std::vector<uint8_t> blockContent(uint32_t address, int length)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t((address + i) * 13);
    return bytes;
}

Frame blockFrame(uint8_t letter, uint32_t address, int length)
{
    const std::vector<uint8_t> block = blockContent(address, length);
    Frame frame(protocol::kMaxFrameLength);
    frame.resize(
        size_t(protocol::buildBlockFrame(frame.data(), letter, address, block.data(), length)));
    return frame;
}

std::vector<Frame> blockFrames(uint8_t letter, uint32_t base, int imageSize)
{
    std::vector<Frame> frames;
    for (int offset = 0; offset < imageSize; offset += protocol::kMaxBlockLength)
        frames.push_back(blockFrame(letter, base + uint32_t(offset), protocol::kMaxBlockLength));
    return frames;
}

Frame swdFrame(SwdStep step)
{
    Frame frame(protocol::kFixedFrameLength);
    protocol::startFixedFrame(frame.data(), 'A');
    frame[3] = 'S';
    frame[4] = 'W';
    frame[5] = 'D';
    frame[6] = step == SwdStep::Init ? '0' : '1';
    if (step == SwdStep::Run)
        frame[12] = 'U';
    frame.resize(size_t(protocol::sealFixedFrame(frame.data())));
    return frame;
}

Frame checkFrame(uint8_t letter, uint32_t start, uint32_t length)
{
    const std::vector<uint8_t> written = blockContent(start, int(length));
    const uint32_t crc = crc32(written.data(), written.size());
    Frame frame(protocol::kFixedFrameLength);
    frame.resize(size_t(protocol::buildCheckFrame(frame.data(), letter, start, length, crc)));
    return frame;
}

} // namespace zq::bench
