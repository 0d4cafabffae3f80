// One Flash.ini line, whatever a user's editor left in it. The parser must read nothing beyond
// the line, and what it reports must agree with a plain reading of the comma-separated fields:
// the id, two factors whose product is the size, and a name of printable characters.
#include "config/FlashCatalog.h"
#include "FuzzCheck.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

using zq::config::FlashEntry;
using zq::config::parseFlashLine;
using zq::config::parseNumber;

namespace
{

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The number a field's characters stand for, worked out digit by digit rather than through the
// conversions the parser uses. Empty when the text is outside what the catalogue's fields can
// collect (hex digits and 'x'), where only "no crash, no overread" is asked of the parser.
std::optional<int32_t> expectedNumber(const QByteArray &text)
{
    if (text.size() >= 2 && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() < 3 || text.size() > 10)
            return 0;
        uint32_t value = 0;
        for (int i = 2; i < text.size(); ++i) {
            const char c = text[i];
            uint32_t digit = 0;
            if (c >= '0' && c <= '9')
                digit = uint32_t(c - '0');
            else if (c >= 'A' && c <= 'F')
                digit = uint32_t(c - 'A' + 10);
            else if (c >= 'a' && c <= 'f')
                digit = uint32_t(c - 'a' + 10);
            value = (value << 4) | digit;
        }
        return int32_t(value);
    }
    bool collectable = true;
    bool allDigits = !text.isEmpty();
    for (const char c : text) {
        collectable = collectable && (isHexDigit(c) || c == 'x' || c == 'X');
        allDigits = allDigits && isDigit(c);
    }
    if (!collectable)
        return std::nullopt;
    if (!allDigits)
        return 0;
    int64_t value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int32_t>::max())
            return 0;
    }
    return int32_t(value);
}

struct Reading {
    int complete = 0;
    int32_t numbers[3] = {0, 0, 0};
    QByteArray name;
};

Reading readFields(const QByteArray &line)
{
    Reading reading;
    QByteArray field;
    for (const char c : line) {
        if (c == ',') {
            if (reading.complete < 3) {
                const std::optional<int32_t> number = expectedNumber(field);
                ZQ_FUZZ_CHECK(number.has_value());
                reading.numbers[reading.complete] = *number;
            } else {
                reading.name = field;
            }
            field.clear();
            if (++reading.complete == 4)
                break;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        const bool keep = reading.complete < 3 ? (isHexDigit(c) || c == 'x' || c == 'X')
                                               : (byte >= 0x21 && byte <= 0x7F);
        if (keep)
            field.append(c);
    }
    return reading;
}

uint32_t bigEndian32(const uint8_t *bytes)
{
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
           uint32_t(bytes[3]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The whole input as a number field: any bytes at all.
    const QByteArray whole =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const int32_t number = parseNumber(whole);
    if (const std::optional<int32_t> expected = expectedNumber(whole))
        ZQ_FUZZ_CHECK(number == *expected);

    if (size < 4)
        return 0;
    const uint32_t askedId = bigEndian32(data);
    // A deep copy: the parser gets a buffer of exactly the line's length.
    const QByteArray line(reinterpret_cast<const char *>(data + 4), int(size - 4));
    const Reading reading = readFields(line);

    // An id that need not match: a miss leaves the entry alone.
    FlashEntry untouched;
    untouched.size = 0x5A5A;
    untouched.name = QStringLiteral("untouched");
    const bool matched = parseFlashLine(line, askedId, &untouched);
    ZQ_FUZZ_CHECK(matched == (reading.complete >= 1 && uint32_t(reading.numbers[0]) == askedId));
    ZQ_FUZZ_CHECK(parseFlashLine(line, askedId, nullptr) == matched);
    if (!matched) {
        ZQ_FUZZ_CHECK(!untouched.matched && untouched.size == 0x5A5A &&
                      untouched.name == QStringLiteral("untouched"));
    }

    // The line's own id: every line with a complete id field names some flash.
    FlashEntry entry;
    const uint32_t ownId = uint32_t(reading.numbers[0]);
    const bool found = parseFlashLine(line, ownId, &entry);
    ZQ_FUZZ_CHECK(found == (reading.complete >= 1));
    if (found) {
        const uint32_t product = uint32_t(reading.numbers[1]) * uint32_t(reading.numbers[2]);
        ZQ_FUZZ_CHECK(entry.matched);
        ZQ_FUZZ_CHECK(entry.size == int32_t(product));
        ZQ_FUZZ_CHECK(entry.name == QString::fromLatin1(reading.name));
        ZQ_FUZZ_CHECK(entry.name.size() < line.size());
    } else {
        ZQ_FUZZ_CHECK(!entry.matched && entry.size == 0 && entry.name.isEmpty());
    }
    return 0;
}
