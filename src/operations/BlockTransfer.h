#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace zq::ops
{

struct Session;

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

// What writeBlocks returns for each way a write can end early: the operation's own codes.
struct BlockCodes {
    int blockFailed;     // a full block's command failed
    int lostAfterBlock;  // the programmer is gone after a full block
    int lastBlockFailed; // the last, shorter block's command failed
    int lostAtEnd;       // the programmer is gone after the last block
};

// How one procedure writes an image block by block from offset 0: full blocks with a progress
// step, an event-loop turn and an open test after each, then the rest. Download, Program and
// the firmware update share it; they differ in the command, the texts, the codes, and in how
// the SPI flash takes its blocks.
struct BlockWriter {
    std::function<int(const uint8_t *data, uint32_t address, int32_t length)> send;
    uint32_t base;         // where the image's first byte goes
    QString failurePrefix; // "NG, Addr : 0x", "UPDATE_FLASH NG, Addr : 0x"
    QString lostLine;      // logged when the programmer is no longer open
    BlockCodes codes;
    // The SPI flash stores whole blocks: the last block goes out 4096 bytes long (the image
    // check covers only the image's length), events run after it too, a lost programmer also
    // turns the operation buttons off, and the progress is left to the check that follows.
    // Otherwise the rest goes out at its own length and the progress ends at 100 %.
    bool spiFlash = false;
};

// 0 when every block was written and the programmer is still open; otherwise the writer's code,
// with its line logged.
int writeBlocks(Session &session, const QByteArray &image, const BlockWriter &writer);

// A failed block: the prefix, the address in lower-case hex without padding, and the result,
// with nothing between them ("NG, Addr : 0x12000-2").
QString blockFailureLine(const QString &prefix, uint32_t address, int result);

} // namespace zq::ops
