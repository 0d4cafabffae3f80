// A whole emulated board fed a session of frames from a host that may be buggy or hostile. The
// board must never crash or read out of bounds, must stay silent on a frame it cannot take, and
// every reply it does send must be well formed: the command's marker, its length and a CRC that
// matches. Blocks it acknowledges must read back as written.
//
// Building a board fills some 18 MiB of erased flash, which would cut the run to a few inputs a
// second; so one board per target set-up serves the whole run. Every input starts it afresh in
// all that steers the board (identity, mode, SWD link down); only the memories keep what earlier
// inputs wrote, and no check below depends on what they hold.
//
// Input: one set-up byte (starting mode, whether a target is on the cable), then frames, each as
// a flags byte, a 16-bit big-endian length and that many bytes. Flag bit 0 mends the frame the
// way a correct host would frame it (start bytes, block length field, CRC); with bit 1 also set,
// bits 2..5 pick the command letter and its fixed-frame tag.
#include "emulator/Board.h"
#include "common/Crc32.h"
#include "FuzzCheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

using zq::emu::Board;
using zq::emu::BoardIdentity;
using zq::emu::BoardMode;
using zq::emu::CommandFrame;
using zq::emu::Packet;
using zq::emu::TargetConfig;

namespace
{

constexpr size_t kFixed = CommandFrame::FixedLength;
constexpr size_t kMaxFrames = 12;
constexpr char kLetters[] = {'K', 'O', 'H', 'I', 'J', 'L', 'A', 'F', 'G'};

uint32_t bigEndian(const uint8_t *bytes, size_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

void putBigEndian(uint8_t *bytes, size_t count, uint32_t value)
{
    for (size_t i = count; i-- > 0;) {
        bytes[i] = uint8_t(value);
        value >>= 8;
    }
}

void writeTag(std::vector<uint8_t> &frame, char command)
{
    static const uint8_t checkTag[] = {0x00, 0x00, 0x24};
    const uint8_t *tag = nullptr;
    size_t length = 3;
    switch (command) {
    case 'K':
        tag = reinterpret_cast<const uint8_t *>("ZQ");
        length = 2;
        break;
    case 'I':
    case 'L':
    case 'G':
        tag = checkTag;
        break;
    case 'O':
        tag = reinterpret_cast<const uint8_t *>("usB");
        break;
    case 'A':
        tag = reinterpret_cast<const uint8_t *>("SWD");
        break;
    default:
        return;
    }
    std::copy(tag, tag + length, frame.begin() + 3);
}

// Frames a block or fixed command as a correct host would, keeping the fuzzer's bytes for
// everything else. A length no form has is left as it is.
void mend(std::vector<uint8_t> &frame, uint8_t flags)
{
    if (frame.size() < 3)
        return;
    frame[0] = 0xAA;
    frame[1] = 0x55;
    if (flags & 0x02)
        frame[2] = uint8_t(kLetters[(flags >> 2) % sizeof(kLetters)]);
    const char command = char(frame[2]);
    size_t covered = 0;
    if (zq::emu::isVariableCommand(command)) {
        size_t total = frame.size() == kFixed + 2 ? kFixed : frame.size();
        if (total < 14 || total > 14 + CommandFrame::MaxDataLength || frame.size() == kFixed)
            return;
        putBigEndian(frame.data() + 3, 3, uint32_t(total));
        covered = total - 4;
    } else if (frame.size() == kFixed) {
        if (flags & 0x02)
            writeTag(frame, command);
        covered = kFixed - 4;
    } else {
        return;
    }
    putBigEndian(frame.data() + covered, 4, zq::crc32(frame.data(), covered));
}

void checkSealed(const Packet &reply, size_t length, uint8_t marker)
{
    ZQ_FUZZ_CHECK(reply.size() == length);
    ZQ_FUZZ_CHECK(reply[0] == 0xAA && reply[1] == 0x55 && reply[2] == marker);
    ZQ_FUZZ_CHECK(zq::crc32(reply.data(), length - 4) == bigEndian(reply.data() + length - 4, 4));
}

void checkConnect(const Packet &reply, const BoardIdentity &identity)
{
    checkSealed(reply, zq::emu::ConnectReplyLength, uint8_t(identity.mode));
    const bool app = identity.mode == BoardMode::Normal;
    const uint32_t running = app ? identity.appVersion : identity.bootVersion;
    const uint32_t other = app ? identity.bootVersion : identity.appVersion;
    ZQ_FUZZ_CHECK(bigEndian(reply.data() + 3, 3) == (running & 0xFFFFFF));
    ZQ_FUZZ_CHECK(bigEndian(reply.data() + 18, 3) == (other & 0xFFFFFF));
    ZQ_FUZZ_CHECK(bigEndian(reply.data() + 7, 3) == (identity.flashId & 0xFFFFFF));
    ZQ_FUZZ_CHECK(bigEndian(reply.data() + 14, 4) == identity.boardMcu);
    ZQ_FUZZ_CHECK(bigEndian(reply.data() + 22, 4) == identity.boardId);
}

void checkRegionReplies(const std::vector<Packet> &replies, const CommandFrame &frame)
{
    const zq::emu::RegionCheck check = zq::emu::regionCheckOf(frame);
    const bool inside = uint64_t(check.start) + check.length <= Board::SpiFlashSize;
    const size_t progress = inside ? check.length / Board::ProgressStep : 0;
    ZQ_FUZZ_CHECK(replies.size() == progress + 1);
    for (size_t i = 0; i < replies.size(); ++i) {
        const Packet &reply = replies[i];
        checkSealed(reply, zq::emu::StatusReplyLength, zq::emu::replyMarker('I'));
        if (i < progress) {
            ZQ_FUZZ_CHECK(reply[8] == 1);
            ZQ_FUZZ_CHECK(bigEndian(reply.data() + 4, 4) == (i + 1) * Board::ProgressStep);
        } else {
            ZQ_FUZZ_CHECK(reply[8] != 1);
            ZQ_FUZZ_CHECK(inside || reply[8] == zq::emu::StatusOutOfRange);
        }
    }
}

void checkReplies(Board &board, const BoardIdentity &before, const CommandFrame &frame,
                  const Board::Response &response)
{
    const char command = frame.command;
    ZQ_FUZZ_CHECK(command == 'O' || !response.restartInto);
    if (command == 'I') {
        checkRegionReplies(response.replies, frame);
        return;
    }
    ZQ_FUZZ_CHECK(response.replies.size() == 1);
    const Packet &reply = response.replies.front();
    if (command == 'K') {
        checkConnect(reply, before);
        return;
    }
    checkSealed(reply, zq::emu::StatusReplyLength, zq::emu::replyMarker(command));
    const uint8_t status = command == 'A' ? reply[7] : reply[8];
    if (command == 'O') {
        const uint8_t runMode = frame.byteAt(6);
        ZQ_FUZZ_CHECK(response.restartInto.has_value() == (runMode <= 1));
        if (response.restartInto)
            ZQ_FUZZ_CHECK(*response.restartInto ==
                          (runMode == 1 ? BoardMode::Normal : BoardMode::McuUpdate));
        return;
    }
    if (status != 0)
        return;
    // An acknowledged block is in the memory it was meant for.
    const uint32_t length = uint32_t(frame.data.size());
    if (command == 'H')
        ZQ_FUZZ_CHECK(board.readSpiFlash(frame.address, length) == frame.data);
    if (command == 'F')
        ZQ_FUZZ_CHECK(board.readTargetFlash(frame.address, length) == frame.data);
    // The boot loader takes a new application; the application and the boot update mode take a
    // new boot loader.
    const bool appFlash = before.mode == BoardMode::McuUpdate;
    if (command == 'J') {
        const std::vector<uint8_t> image = appFlash ? board.appImage() : board.bootImage();
        ZQ_FUZZ_CHECK(image.size() >= frame.address + uint64_t(length));
        ZQ_FUZZ_CHECK(
            std::equal(frame.data.begin(), frame.data.end(), image.begin() + frame.address));
    }
    if (command == 'L') {
        // A verified image that holds the header is the version the board reports from now on.
        const zq::emu::RegionCheck check = zq::emu::regionCheckOf(frame);
        const std::vector<uint8_t> image = appFlash ? board.appImage() : board.bootImage();
        const bool coversHeader =
            check.start <= 4096 && uint64_t(check.start) + check.length >= 4099;
        const BoardIdentity after = board.identity();
        const uint32_t reported = appFlash ? after.appVersion : after.bootVersion;
        const uint32_t earlier = appFlash ? before.appVersion : before.bootVersion;
        if (coversHeader && image.size() >= 4099)
            ZQ_FUZZ_CHECK(reported == (0x20000000u | bigEndian(image.data() + 4096, 3)));
        else
            ZQ_FUZZ_CHECK(reported == earlier);
    }
    if (command == 'G') {
        const zq::emu::RegionCheck check = zq::emu::regionCheckOf(frame);
        const std::vector<uint8_t> region = board.readTargetFlash(check.start, check.length);
        ZQ_FUZZ_CHECK(region.size() == check.length);
        ZQ_FUZZ_CHECK(zq::crc32(region.data(), region.size()) == check.expectedCrc);
        ZQ_FUZZ_CHECK(bigEndian(reply.data() + 4, 4) == check.expectedCrc);
    }
}

void feed(Board &board, const std::vector<uint8_t> &bytes)
{
    // An exact-size copy, so any read past the frame is seen.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    const std::optional<CommandFrame> frame = zq::emu::parseCommandFrame(exact.get(), bytes.size());
    const BoardIdentity before = board.identity();
    const Board::Response response = board.handleFrame(exact.get(), bytes.size());
    if (!frame) {
        ZQ_FUZZ_CHECK(response.replies.empty() && !response.restartInto);
        ZQ_FUZZ_CHECK(board.identity().mode == before.mode);
        return;
    }
    checkReplies(board, before, *frame, response);
    // The bus restarts the board into the mode it announced.
    if (response.restartInto)
        board.enterMode(*response.restartInto);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const BoardMode modes[] = {BoardMode::Normal, BoardMode::McuUpdate,
                                      BoardMode::BootUpdate, BoardMode::Normal};
    static Board withTarget{BoardIdentity{}, TargetConfig{}};
    static Board withoutTarget{BoardIdentity{}, TargetConfig{false}};
    Board &board = (data[0] & 0x04) == 0 ? withTarget : withoutTarget;
    BoardIdentity identity;
    identity.mode = modes[data[0] & 0x03];
    board.setIdentity(identity);
    // A run command drops the SWD link whatever the last input left it in.
    std::vector<uint8_t> run(kFixed, 0);
    run[2] = 'A';
    std::copy(reinterpret_cast<const uint8_t *>("SWD1"),
              reinterpret_cast<const uint8_t *>("SWD1") + 4, run.begin() + 3);
    mend(run, 0);
    board.handleFrame(run.data(), run.size());
    ZQ_FUZZ_CHECK(!board.targetConnected());

    size_t at = 1;
    for (size_t frames = 0; frames < kMaxFrames && at + 3 <= size; ++frames) {
        const uint8_t flags = data[at];
        const size_t wanted = size_t(data[at + 1]) << 8 | data[at + 2];
        at += 3;
        const size_t length = std::min(wanted, size - at);
        std::vector<uint8_t> frame(data + at, data + at + length);
        at += length;
        if (flags & 0x01)
            mend(frame, flags);
        feed(board, frame);
    }
    return 0;
}
