// What the emulated board reads off its OUT pipe, whatever a host writes. The frame parser
// reads only the bytes it is given, accepts a frame only in its exact form, and what it hands on
// is a faithful copy of the frame's fields. A second pass mends the start bytes and the CRC so
// that the checks after them see as many frames as the ones before.
#include "emulator/Frames.h"
#include "common/Crc32.h"
#include "FuzzCheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

using zq::emu::CommandFrame;
using zq::emu::parseCommandFrame;

namespace
{

constexpr size_t kFixed = CommandFrame::FixedLength;

uint32_t bigEndian(const uint8_t *bytes, size_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

bool crcAt(const uint8_t *bytes, size_t covered)
{
    return zq::crc32(bytes, covered) == bigEndian(bytes + covered, 4);
}

bool tagFits(const uint8_t *bytes, char command)
{
    static const uint8_t checkTag[] = {0x00, 0x00, 0x24};
    switch (command) {
    case 'K':
        return bytes[3] == 'Z' && bytes[4] == 'Q';
    case 'I':
    case 'L':
    case 'G':
        return std::memcmp(bytes + 3, checkTag, 3) == 0;
    case 'O':
        return std::memcmp(bytes + 3, "usB", 3) == 0;
    case 'A':
        return std::memcmp(bytes + 3, "SWD", 3) == 0;
    default:
        return false;
    }
}

// Whether the parser must accept these bytes, worked out from the forms' rules.
bool wellFormed(const uint8_t *bytes, size_t count)
{
    if (count < 3 || bytes[0] != 0xAA || bytes[1] != 0x55)
        return false;
    const char command = char(bytes[2]);
    if (zq::emu::isVariableCommand(command)) {
        if (count < 14)
            return false;
        const size_t total = bigEndian(bytes + 3, 3);
        if (total < 14 || total > 14 + CommandFrame::MaxDataLength)
            return false;
        if (count != (total == kFixed ? kFixed + 2 : total))
            return false;
        return crcAt(bytes, total - 4);
    }
    return count == kFixed && tagFits(bytes, command) && crcAt(bytes, kFixed - 4);
}

void checkParse(const uint8_t *bytes, size_t count)
{
    const std::optional<CommandFrame> frame = parseCommandFrame(bytes, count);
    ZQ_FUZZ_CHECK(frame.has_value() == wellFormed(bytes, count));
    if (!frame)
        return;
    ZQ_FUZZ_CHECK(frame->command == char(bytes[2]));
    ZQ_FUZZ_CHECK(frame->variable == zq::emu::isVariableCommand(frame->command));
    if (frame->variable) {
        const size_t total = bigEndian(bytes + 3, 3);
        ZQ_FUZZ_CHECK(frame->data.size() == total - 14);
        ZQ_FUZZ_CHECK(frame->data.size() <= CommandFrame::MaxDataLength);
        ZQ_FUZZ_CHECK(frame->data.size() + 14 <= count);
        ZQ_FUZZ_CHECK(std::equal(frame->data.begin(), frame->data.end(), bytes + 10));
        ZQ_FUZZ_CHECK(frame->address == bigEndian(bytes + 6, 4));
    } else {
        ZQ_FUZZ_CHECK(frame->data.empty());
        ZQ_FUZZ_CHECK(std::equal(frame->fields.begin(), frame->fields.end(), bytes + 3));
        // Field reads outside bytes 3..31 give zero, never the bytes around the fields.
        for (size_t offset = 0; offset < 40; ++offset) {
            const uint8_t expected = offset >= 3 && offset < 32 ? bytes[offset] : 0;
            ZQ_FUZZ_CHECK(frame->byteAt(offset) == expected);
        }
        ZQ_FUZZ_CHECK(frame->byteAt(size_t(-1)) == 0);
        const zq::emu::RegionCheck check = zq::emu::regionCheckOf(*frame);
        ZQ_FUZZ_CHECK(check.start == bigEndian(bytes + 6, 4));
        ZQ_FUZZ_CHECK(check.length == bigEndian(bytes + 10, 4));
        ZQ_FUZZ_CHECK(check.expectedCrc == bigEndian(bytes + 14, 4));
        ZQ_FUZZ_CHECK(frame->wordAt(30) == (bigEndian(bytes + 30, 2) << 16));
    }
}

// The input as a host that gets the framing right would send it: start bytes, the length field
// of a block frame, and the CRC in its place.
std::vector<uint8_t> mended(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> frame(data, data + size);
    if (frame.size() < 3)
        return frame;
    frame[0] = 0xAA;
    frame[1] = 0x55;
    size_t covered = 0;
    if (zq::emu::isVariableCommand(char(frame[2]))) {
        if (frame.size() < 14 || frame.size() > 14 + CommandFrame::MaxDataLength + 2)
            return frame;
        size_t total = frame.size();
        if (total == kFixed + 2)
            total = kFixed;
        else if (total > 14 + CommandFrame::MaxDataLength || total == kFixed)
            return frame;
        frame[3] = uint8_t(total >> 16);
        frame[4] = uint8_t(total >> 8);
        frame[5] = uint8_t(total);
        covered = total - 4;
    } else if (frame.size() == kFixed) {
        covered = kFixed - 4;
    } else {
        return frame;
    }
    const uint32_t crc = zq::crc32(frame.data(), covered);
    for (size_t i = 0; i < 4; ++i)
        frame[covered + i] = uint8_t(crc >> (24 - 8 * i));
    return frame;
}

void parseExactCopy(const std::vector<uint8_t> &bytes)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    checkParse(exact.get(), bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ZQ_FUZZ_CHECK(!parseCommandFrame(nullptr, size));
    checkParse(data, size);
    const std::vector<uint8_t> frame = mended(data, size);
    parseExactCopy(frame);
    return 0;
}
