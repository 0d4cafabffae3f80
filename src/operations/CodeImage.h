#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace zq::ops
{

struct Session;
}
namespace zq
{
class FrontEnd;
}
namespace zq::ops
{

// What one operation says when the code file is missing or unreadable, and whether the image
// must pass the running-address check before anything is sent.
struct CodeFileTexts {
    QString emptyPath;
    QString openFailure;
    bool checkRunningAddress;
};

enum class CodeRead {
    Ready,      // the image is in the buffer; length, CRC and summary are set
    NoPath,     // the path line was empty
    Unreadable, // the file could not be read; length and CRC keep the image read before
    Refused,    // a HEX, S-record or ELF file that is not a sound image; the reason was shown
    BadAddress, // the image was read but its entry address is not acceptable
};

// Reads the image named in the code path line into mcuCodeBuffer, as every operation that
// sends the code does, and reports each failure in that operation's words.
CodeRead readCodeImage(Session &session, const CodeFileTexts &texts, QByteArray &mcuCodeBuffer);

// "Mcu code, CRC = 0x1A2B3C4D Len: 12288"
QString codeSummaryText(uint32_t crc, int32_t length);

// The code file dialog's filters: the raw binary first, as it always was, then the formats
// developers' tools write.
QString codeFileFilter();

// An image too short to hold an entry address is refused by every operation that sends or
// checks the code, before anything is sent: "There aren't any datas to update!", as Program
// says it. True when it was refused.
bool refuseShortImage(FrontEnd &frontEnd, int32_t length);

} // namespace zq::ops
