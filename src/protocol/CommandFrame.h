#pragma once

#include <cstdint>

namespace zq::protocol
{

// Command frames are built in place, in the worker's txBuffer. Every function returns the number
// of bytes to send (txLength). Bytes a command does not name are zero, so a frame never carries
// what an earlier command left in the buffer; the CRC covers the bytes as they are sent.

constexpr int kFixedFrameLength = 36;
constexpr int kMaxBlockLength = 4096; // data bytes of one variable frame
constexpr int kMaxFrameLength = kMaxBlockLength + 14;

// Fixed form: zeroes bytes 0..35 and writes the header and the command letter. The command then
// fills its fields in 3..31 and seals the frame.
void startFixedFrame(uint8_t *frame, uint8_t letter);

// Writes the CRC of bytes 0..31 into 32..35; returns 36.
int sealFixedFrame(uint8_t *frame);

// The fixed frame of the three CRC checks: total length 36 in 3..5, start address in 6..9,
// length in 10..13, expected CRC in 14..17.
int buildCheckFrame(uint8_t *frame, uint8_t letter, uint32_t startAddress, uint32_t length,
                    uint32_t expectedCrc);

// Variable form for block transfers: length L+14 in 3..5, address in 6..9, the data, the CRC.
// A frame of exactly 36 bytes (L = 22) goes out as 38 so the programmer never mistakes a block
// for a fixed frame; the two bytes past its CRC are zero. length must lie in 0..4096.
int buildBlockFrame(uint8_t *frame, uint8_t letter, uint32_t address, const uint8_t *data,
                    int length);

} // namespace zq::protocol
