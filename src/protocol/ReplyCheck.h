#pragma once

#include <cstdint>

namespace zq
{
class FrontEnd;
}

namespace zq::protocol
{

// What a command demands of its reply before it looks at the fields.
struct ReplyRule {
    enum class Length { Exact, AtLeast };

    int size = 13;                  // the CRC covers bytes 0..size-5 and sits in size-4..size-1
    Length length = Length::Exact;  // AtLeast: longer replies pass, their extra bytes unread
    int marker = -1;                // required byte 2, or -1 when the caller judges it
    const char *crcLabel = nullptr; // label of the CRC mismatch line; null: no line
};

// 0 for a reply that passes; -3 for a wrong length or marker (nothing logged); -4 for a CRC
// mismatch, after the line label + computed CRC + "," + received CRC.
int checkReply(const uint8_t *reply, int length, const ReplyRule &rule, FrontEnd &frontEnd);

// The fields of the 13-byte replies that carry data.
inline constexpr int kReplySize = 13;
uint32_t replyValue(const uint8_t *reply); // bytes 4..7: a CRC or a progress count
uint8_t replyStatus(const uint8_t *reply); // byte 8

} // namespace zq::protocol
