#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace zq::ops
{

struct Session;

// How one procedure writes an image block by block from offset 0: full blocks with a progress
// step, an event-loop turn and an open test after each, then the rest in a block of its own
// length, then 100 %. Program (over SWD) and the firmware update share it; they differ only in
// the command, the texts and the result codes.
struct BlockWriter {
    std::function<int(const uint8_t *data, uint32_t address, int32_t length)> send;
    QString failurePrefix; // "NG, Addr : 0x", "UPDATE_FLASH NG, Addr : 0x"
    QString goneLine;      // logged when the programmer is no longer open
    int fullBlockFailed;   // a full block's command failed
    int goneAfterFullBlock;
    int restFailed; // the last, shorter block's command failed
    int goneAtEnd;  // the programmer is gone after the last block
};

// 0 when every block was written and the programmer is still open; otherwise the writer's code,
// with its line logged.
int writeBlocks(Session &session, const QByteArray &image, const BlockWriter &writer);

} // namespace zq::ops
