#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace zq::ops
{

// Images travel in blocks of 4096 bytes, the largest data a variable frame carries.
constexpr int kBlockSize = 4096;

// An image cut into full blocks and one shorter rest.
struct ImageBlocks {
    explicit ImageBlocks(const QByteArray &bytes) : image(bytes) {}

    int fullCount() const { return image.size() / kBlockSize; }
    int rest() const { return image.size() % kBlockSize; }

    // Copies count bytes from offset to the start of staging and fills the remainder with 0xFF,
    // so a short block never carries bytes of the block before it.
    void stage(std::vector<uint8_t> &staging, int offset, int count) const;

    // Percentage written after blocksDone full blocks, truncated; 64 bits so large images
    // never overflow.
    int progressAfter(int blocksDone) const;

    const QByteArray &image;
};

} // namespace zq::ops
