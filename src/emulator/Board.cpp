#include "emulator/Board.h"

namespace zq::emu
{

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

} // namespace zq::emu
