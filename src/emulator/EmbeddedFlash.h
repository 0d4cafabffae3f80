#pragma once

#include "emulator/FlashMemory.h"

#include <optional>

namespace zq::emu
{

// The part of the board MCU's own flash that holds one resident program (the application or
// the boot loader). An update writes the image block by block from offset 0, so a block at
// offset 0 starts a new image and erases what the old one left behind.
class EmbeddedFlash
{
public:
    static constexpr uint32_t HeaderOffset = 4096;

    explicit EmbeddedFlash(size_t capacity);

    bool write(uint32_t offset, const std::vector<uint8_t> &data);
    bool contains(uint64_t start, uint64_t length) const { return memory_.contains(start, length); }
    uint32_t crc(uint32_t start, uint32_t length) const { return memory_.crc(start, length); }

    // The version in the image header (bytes 4096..4098), in the host's form; none while the
    // image is too short to hold it.
    std::optional<uint32_t> headerVersion() const;

    std::vector<uint8_t> image() const { return memory_.read(0, uint32_t(imageLength_)); }
    void load(const std::vector<uint8_t> &image);

private:
    FlashMemory memory_;
    size_t imageLength_ = 0;
};

} // namespace zq::emu
