#include "emulator/FlashMemory.h"

#include "common/ByteOrder.h"
#include "common/Crc32.h"

#include <algorithm>

namespace zq::emu
{

namespace
{
constexpr uint8_t Erased = 0xFF;
}

FlashMemory::FlashMemory(size_t size) : bytes_(size, Erased) {}

bool FlashMemory::contains(uint64_t start, uint64_t length) const
{
    return start <= bytes_.size() && length <= bytes_.size() - start;
}

bool FlashMemory::write(uint32_t address, const std::vector<uint8_t> &data)
{
    if (!contains(address, data.size()))
        return false;
    std::copy(data.begin(), data.end(), bytes_.begin() + address);
    return true;
}

uint32_t FlashMemory::crc(uint32_t start, uint32_t length, uint32_t crc) const
{
    if (!contains(start, length))
        return crc;
    return crc32(bytes_.data() + start, length, crc);
}

std::vector<uint8_t> FlashMemory::read(uint32_t start, uint32_t length) const
{
    if (!contains(start, length))
        return {};
    return std::vector<uint8_t>(bytes_.begin() + start, bytes_.begin() + start + length);
}

void FlashMemory::erase()
{
    std::fill(bytes_.begin(), bytes_.end(), Erased);
}

void FlashMemory::load(const std::vector<uint8_t> &data)
{
    erase();
    const size_t count = std::min(data.size(), bytes_.size());
    std::copy(data.begin(), data.begin() + count, bytes_.begin());
}

std::vector<uint8_t> FlashMemory::usedContents() const
{
    auto last = std::find_if(bytes_.rbegin(), bytes_.rend(), [](uint8_t b) { return b != Erased; });
    return std::vector<uint8_t>(bytes_.begin(), last.base());
}

EmbeddedFlash::EmbeddedFlash(size_t capacity) : memory_(capacity) {}

bool EmbeddedFlash::write(uint32_t offset, const std::vector<uint8_t> &data)
{
    if (!memory_.contains(offset, data.size()))
        return false;
    if (offset == 0) {
        memory_.erase();
        imageLength_ = 0;
    }
    memory_.write(offset, data);
    imageLength_ = std::max(imageLength_, size_t(offset) + data.size());
    return true;
}

std::optional<uint32_t> EmbeddedFlash::headerVersion() const
{
    if (imageLength_ < HeaderOffset + 3)
        return std::nullopt;
    const std::vector<uint8_t> header = memory_.read(HeaderOffset, 3);
    return 0x20000000u | readBigEndian(header.data(), 3);
}

void EmbeddedFlash::load(const std::vector<uint8_t> &image)
{
    memory_.load(image);
    imageLength_ = std::min(image.size(), memory_.size());
}

} // namespace zq::emu
