#include "emulator/EmbeddedFlash.h"

#include "emulator/ByteOrder.h"

#include <algorithm>

namespace zq::emu
{

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
