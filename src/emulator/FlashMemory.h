#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zq::emu
{

// A flash array of fixed size that reads 0xFF where nothing was written. A write simply
// replaces the bytes: the board's firmware erases before it programs, so the host never sees
// the AND of old and new data.
class FlashMemory
{
public:
    explicit FlashMemory(size_t size);

    size_t size() const { return bytes_.size(); }
    bool contains(uint64_t start, uint64_t length) const;

    // False, and nothing written, when the block does not fit.
    bool write(uint32_t address, const std::vector<uint8_t> &data);
    // The CRC-32 of a region, continuing from crc; the region must be contained.
    uint32_t crc(uint32_t start, uint32_t length, uint32_t crc = 0) const;
    std::vector<uint8_t> read(uint32_t start, uint32_t length) const;

    void erase();
    // Replaces the contents from address 0; bytes past the end of data read as erased, bytes
    // beyond the array are ignored.
    void load(const std::vector<uint8_t> &data);
    // The contents up to the last programmed (non-0xFF) byte: what is worth saving.
    std::vector<uint8_t> usedContents() const;

private:
    std::vector<uint8_t> bytes_;
};

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
