// The emulated board: its commands, its memories' accessors and its state folder.
#include "emulator/Board.h"

#include "emulator/StateFolder.h"

#include <algorithm>

namespace zq::emu
{

namespace
{

bool coversHeader(const RegionCheck &check)
{
    const uint64_t end = uint64_t(check.start) + check.length;
    return check.start <= EmbeddedFlash::HeaderOffset && end >= EmbeddedFlash::HeaderOffset + 3;
}

constexpr uint8_t InitMode = '0';
constexpr uint8_t PowerOff = 'P';

} // namespace

Board::Board(const BoardIdentity &identity, const TargetConfig &target)
    : identity_(identity), spiFlash_(SpiFlashSize), app_(EmbeddedFlashSize),
      boot_(EmbeddedFlashSize), target_(target)
{
}

Board::Response Board::handleFrame(const uint8_t *bytes, size_t count)
{
    const std::optional<CommandFrame> frame = parseCommandFrame(bytes, count);
    if (!frame)
        return {};
    std::lock_guard<std::mutex> lock(mutex_);
    return dispatch(*frame);
}

Board::Response Board::dispatch(const CommandFrame &frame)
{
    switch (frame.command) {
    case 'K':
        return {{connect()}, std::nullopt};
    case 'O':
        return usbBoot(frame);
    case 'H':
        return {{writeSpiFlash(frame)}, std::nullopt};
    case 'I':
        return {checkSpiFlash(frame), std::nullopt};
    case 'J':
        return {{updateFlash(frame)}, std::nullopt};
    case 'L':
        return {{checkEmbeddedFlash(frame)}, std::nullopt};
    case 'A':
        return {{swdInit(frame)}, std::nullopt};
    case 'F':
        return {{swdWrite(frame)}, std::nullopt};
    case 'G':
        return {{swdCheck(frame)}, std::nullopt};
    default:
        return {};
    }
}

EmbeddedFlash &Board::updatableFlash()
{
    return identity_.mode == BoardMode::McuUpdate ? app_ : boot_;
}

BoardIdentity Board::identity() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return identity_;
}

void Board::setIdentity(const BoardIdentity &identity)
{
    std::lock_guard<std::mutex> lock(mutex_);
    identity_ = identity;
}

BoardMode Board::mode() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return identity_.mode;
}

void Board::enterMode(BoardMode mode)
{
    std::lock_guard<std::mutex> lock(mutex_);
    identity_.mode = mode;
}

void Board::setRestartDelays(int leaveMs, int returnMs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    leaveDelayMs_ = leaveMs;
    returnDelayMs_ = returnMs;
}

int Board::leaveDelayMs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return leaveDelayMs_;
}

int Board::returnDelayMs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return returnDelayMs_;
}

std::vector<uint8_t> Board::readSpiFlash(uint32_t start, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return spiFlash_.read(start, length);
}

std::vector<uint8_t> Board::appImage() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return app_.image();
}

std::vector<uint8_t> Board::bootImage() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return boot_.image();
}

std::vector<uint8_t> Board::readTargetFlash(uint32_t start, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return target_.flash().read(start, length);
}

TargetConfig Board::targetConfig() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return target_.config();
}

bool Board::targetConnected() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return target_.connected();
}

int Board::targetRunCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return target_.runCount();
}

bool Board::targetPoweredOff() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return target_.poweredOff();
}

uint8_t Board::swdSpeed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return target_.speed();
}

// ---- CMD_CONNECT ('K') and CMD_USB_BOOT ('O') ----

Packet Board::connect() const
{
    return connectReply(identity_);
}

Board::Response Board::usbBoot(const CommandFrame &frame) const
{
    switch (frame.byteAt(6)) {
    case 0:
        return {{statusReply('O', 0, 0)}, BoardMode::McuUpdate};
    case 1:
        return {{statusReply('O', 0, 0)}, BoardMode::Normal};
    default:
        return {{statusReply('O', 0, StatusBadArgument)}, std::nullopt};
    }
}

// ---- CMD_WRITE_SPIFLASH ('H') and CMD_CHECK_SPIFLASH ('I') ----

Packet Board::writeSpiFlash(const CommandFrame &frame)
{
    const bool written = spiFlash_.write(frame.address, frame.data);
    return statusReply('H', 0, written ? 0 : StatusOutOfRange);
}

std::vector<Packet> Board::checkSpiFlash(const CommandFrame &frame) const
{
    const RegionCheck check = regionCheckOf(frame);
    if (!spiFlash_.contains(check.start, check.length))
        return {statusReply('I', 0, StatusOutOfRange)};
    std::vector<Packet> replies;
    uint32_t crc = 0;
    uint32_t done = 0;
    while (done < check.length) {
        const uint32_t step = std::min(ProgressStep, check.length - done);
        crc = spiFlash_.crc(check.start + done, step, crc);
        done += step;
        if (step == ProgressStep)
            replies.push_back(statusReply('I', done, 1));
    }
    const uint8_t verdict = crc == check.expectedCrc ? 0 : StatusCrcMismatch;
    replies.push_back(statusReply('I', crc, verdict));
    return replies;
}

// ---- CMD_UPDATE_FLASH ('J') and CMD_CHECK_EFLASH ('L') ----

Packet Board::updateFlash(const CommandFrame &frame)
{
    const bool written = updatableFlash().write(frame.address, frame.data);
    return statusReply('J', 0, written ? 0 : StatusOutOfRange);
}

Packet Board::checkEmbeddedFlash(const CommandFrame &frame)
{
    const RegionCheck check = regionCheckOf(frame);
    EmbeddedFlash &flash = updatableFlash();
    if (!flash.contains(check.start, check.length))
        return statusReply('L', 0, StatusOutOfRange);
    const uint32_t crc = flash.crc(check.start, check.length);
    if (crc != check.expectedCrc)
        return statusReply('L', crc, StatusCrcMismatch);
    // A verified image is the program the board will run: from now on it reports its version.
    const std::optional<uint32_t> version = flash.headerVersion();
    if (version && coversHeader(check)) {
        uint32_t &reported = &flash == &app_ ? identity_.appVersion : identity_.bootVersion;
        reported = *version;
    }
    return statusReply('L', crc, 0);
}

// ---- CMD_SWD_INIT ('A'), CMD_SWD_WRITE ('F') and CMD_SWD_CHECK ('G') ----

Packet Board::swdInit(const CommandFrame &frame)
{
    const uint8_t speed = frame.byteAt(11);
    const uint32_t targetId = target_.config().present ? target_.config().targetId : 0;
    if (frame.byteAt(6) == InitMode)
        return swdInitReply(targetId, target_.connect(speed) ? 0 : 1);
    return swdInitReply(targetId, target_.run(frame.byteAt(12) == PowerOff) ? 0 : 1);
}

Packet Board::swdWrite(const CommandFrame &frame)
{
    if (!target_.connected())
        return statusReply('F', 0, StatusNotConnected);
    const bool written = target_.flash().write(frame.address, frame.data);
    return statusReply('F', 0, written ? 0 : StatusOutOfRange);
}

Packet Board::swdCheck(const CommandFrame &frame) const
{
    const RegionCheck check = regionCheckOf(frame);
    if (!target_.connected())
        return statusReply('G', 0, StatusNotConnected);
    if (!target_.flash().contains(check.start, check.length))
        return statusReply('G', 0, StatusOutOfRange);
    const uint32_t crc = target_.flash().crc(check.start, check.length);
    return statusReply('G', crc, crc == check.expectedCrc ? 0 : StatusCrcMismatch);
}

// ---- The state folder ----

BoardState Board::state() const
{
    BoardState state;
    state.identity = identity_;
    state.target = target_.config();
    state.spiFlash = spiFlash_.usedContents();
    state.targetFlash = target_.flash().usedContents();
    state.app = app_.image();
    state.boot = boot_.image();
    state.blockWriteMs = blockWriteMs_;
    return state;
}

void Board::restore(const BoardState &state)
{
    identity_ = state.identity;
    spiFlash_.load(state.spiFlash);
    target_ = SwdTarget(state.target);
    target_.flash().load(state.targetFlash);
    app_.load(state.app);
    boot_.load(state.boot);
    blockWriteMs_ = state.blockWriteMs;
}

bool Board::saveState(const QString &folder) const
{
    BoardState snapshot;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshot = state();
    }
    return saveStateFolder(folder, snapshot);
}

bool Board::loadState(const QString &folder, QString *error)
{
    const std::optional<BoardState> loaded = loadStateFolder(folder, error);
    if (!loaded)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    restore(*loaded);
    return true;
}

std::shared_ptr<Board> Board::fromStateFolder(const QString &folder, QString *error)
{
    auto board = std::make_shared<Board>();
    QString problem;
    if (!board->loadState(folder, &problem) && !problem.isEmpty()) {
        if (error)
            *error = problem;
        return nullptr;
    }
    return board;
}

} // namespace zq::emu
