#pragma once

#include <cstdint>

namespace zq
{
class CommandOutput;
}

namespace zq::protocol
{

// The wire format: frames out, replies in.

// What an exchange with the programmer gives. The values show in the operations' log lines
// ("NG, Addr : 0x12000-2"), so they never change. A CRC check also passes on the programmer's
// nonzero status byte, so a command's result is an int that may hold more than these.
enum Result : int {
    Ok = 0,
    NotSent = -1,  // the send was not confirmed (or the block could not be framed)
    NoReply = -2,  // no reply in time, or the device was lost while waiting
    BadReply = -3, // wrong length or marker; the SWD init's target reported a failure
    BadCrc = -4,   // the reply's CRC does not match its bytes
};

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

// What a command demands of its reply before it looks at the fields.
struct ReplyRule {
    enum class Length { Exact, AtLeast };

    int size = 13;                  // the CRC covers bytes 0..size-5 and sits in size-4..size-1
    Length length = Length::Exact;  // AtLeast: longer replies pass, their extra bytes unread
    int marker = -1;                // required byte 2, or -1 when the caller judges it
    const char *crcLabel = nullptr; // label of the CRC mismatch line; null: no line
};

// Ok for a reply that passes; BadReply for a wrong length or marker (nothing logged); BadCrc
// after the line label + computed CRC + "," + received CRC.
Result checkReply(const uint8_t *reply, int length, const ReplyRule &rule, CommandOutput &output);

// The fields of the 13-byte replies that carry data.
inline constexpr int kReplySize = 13;
uint32_t replyValue(const uint8_t *reply); // bytes 4..7: a CRC or a progress count
uint8_t replyStatus(const uint8_t *reply); // byte 8

} // namespace zq::protocol
