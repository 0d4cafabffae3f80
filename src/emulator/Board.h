#pragma once

#include "emulator/BoardIdentity.h"
#include "emulator/Faults.h"
#include "emulator/FlashMemory.h"
#include "emulator/Frames.h"
#include "emulator/SwdTarget.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zq::emu
{

struct BoardState;

// The programmer board's side of the protocol: it takes one command frame at a time and gives
// back the reply packets a real board would send.
//
// A frame that is not well formed (bad start bytes, unknown letter, wrong length for its form,
// wrong tag in a fixed frame, CRC mismatch) is dropped without a reply, as the board's firmware
// cannot tell which command it was meant to be, and acknowledging a damaged block would let a
// host believe it had been written. The host sees its time-out.
//
// Which program an update ('J') replaces, and which one 'L' checks, follows the running code:
// the boot loader (mode '[') takes a new application; the application (mode ';') and the boot
// update mode ('+') take a new boot loader. A successful 'L' over the image header (bytes
// 4096..4098) makes the header's version the board's version of that program.
//
// 'I' sends one progress reply (status 1, value = bytes checked so far) after every full
// 64 KiB of the region, then the verdict: a 1 MiB region gives 16 progress replies.
//
// 'O' with run-mode byte 1 restarts into ';', with 0 into '['; the restart itself (leaving the
// bus and coming back under a new path) is the bus's job, told through Response::restartInto.
//
// Status bytes besides 0 and 1: 2 CRC mismatch, 3 region or block outside the memory, 4 SWD
// link not up, 5 bad argument. Thread-safe: one mutex around the board's state.
class Board
{
public:
    static constexpr size_t SpiFlashSize = size_t(16) << 20;
    static constexpr uint32_t ProgressStep = uint32_t(64) << 10;
    static constexpr size_t EmbeddedFlashSize = size_t(1) << 20;

    struct Response {
        std::vector<Packet> replies;
        std::optional<BoardMode> restartInto;
    };

    explicit Board(const BoardIdentity &identity = {}, const TargetConfig &target = {});

    Response handleFrame(const uint8_t *bytes, size_t count);

    BoardIdentity identity() const;
    void setIdentity(const BoardIdentity &identity);
    BoardMode mode() const;
    void enterMode(BoardMode mode);

    Faults &faults() { return faults_; }

    // How long after the host took its CMD_USB_BOOT reply the board leaves the bus, and how long
    // it stays off.
    void setRestartDelays(int leaveMs, int returnMs);
    int leaveDelayMs() const;
    int returnDelayMs() const;
    // How long the board takes to write one block (a 4 KiB SPI flash or target block, an
    // embedded flash block): its reply to 'H', 'F' or 'J' comes that much later. 0: at once.
    int blockWriteMs() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return blockWriteMs_;
    }

    std::vector<uint8_t> readSpiFlash(uint32_t start, uint32_t length) const;
    std::vector<uint8_t> appImage() const;
    std::vector<uint8_t> bootImage() const;
    std::vector<uint8_t> readTargetFlash(uint32_t start, uint32_t length) const;
    TargetConfig targetConfig() const;
    bool targetConnected() const;
    int targetRunCount() const;
    bool targetPoweredOff() const;
    uint8_t swdSpeed() const;

    // The state folder: spi-flash.bin, target-flash.bin, app.bin, boot.bin and board.ini.
    bool saveState(const QString &folder) const;
    // False, and the board unchanged, when there is no folder or a file in it is unreadable
    // (error says which then).
    bool loadState(const QString &folder, QString *error = nullptr);
    // A board with the folder's state, or with the defaults when there is no folder yet; null,
    // with the reason in error, when a file of the folder cannot be read.
    static std::shared_ptr<Board> fromStateFolder(const QString &folder, QString *error = nullptr);

private:
    Response dispatch(const CommandFrame &frame);
    EmbeddedFlash &updatableFlash();
    BoardState state() const;
    void restore(const BoardState &state);

    Packet connect() const;
    Response usbBoot(const CommandFrame &frame) const;
    Packet writeSpiFlash(const CommandFrame &frame);
    std::vector<Packet> checkSpiFlash(const CommandFrame &frame) const;
    Packet updateFlash(const CommandFrame &frame);
    Packet checkEmbeddedFlash(const CommandFrame &frame);
    Packet swdInit(const CommandFrame &frame);
    Packet swdWrite(const CommandFrame &frame);
    Packet swdCheck(const CommandFrame &frame) const;

    mutable std::mutex mutex_;
    BoardIdentity identity_;
    FlashMemory spiFlash_;
    EmbeddedFlash app_;
    EmbeddedFlash boot_;
    SwdTarget target_;
    Faults faults_;
    int leaveDelayMs_ = 20;
    int returnDelayMs_ = 20;
    int blockWriteMs_ = 0;
};

} // namespace zq::emu
