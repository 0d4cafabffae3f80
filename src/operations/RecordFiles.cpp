#include "operations/RecordFiles.h"
#include "common/ByteOrder.h"

#include <cctype>
#include <cstring>

namespace zq::ops
{

namespace
{

// A record holds at most 255 data bytes: 2 * (255 + 5) hex digits and its mark.
constexpr int kLongestLine = 1024;

bool isHexText(const QByteArray &text)
{
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return !text.isEmpty();
}

// One record's text (after its mark) as bytes; false when it is not an even run of hex digits.
bool decodeRecord(const QByteArray &hex, QByteArray &bytes)
{
    if (hex.size() % 2 != 0 || !isHexText(hex))
        return false;
    bytes = QByteArray::fromHex(hex);
    return true;
}

uint32_t bigEndian(const QByteArray &bytes, int from, int count)
{
    return readBigEndian(reinterpret_cast<const uint8_t *>(bytes.constData()) + from,
                         size_t(count));
}

unsigned byteSum(const QByteArray &bytes, int count)
{
    unsigned sum = 0;
    for (int i = 0; i < count; ++i)
        sum += uint8_t(bytes[i]);
    return sum & 0xFF;
}

// What a reader does with each data record: put it in the image, or, to name the record an
// overlap ran into, look for the first one that holds an address.
struct ImageSink {
    FlatImage &image;
    QString &problem;
    int overlapLine = 0;
    uint64_t overlapAt = 0;

    bool add(int number, uint64_t address, const QByteArray &bytes)
    {
        const FlatImage::Placement placement =
            image.place(address, uint64_t(bytes.size()), uint64_t(number));
        switch (placement.kind) {
        case FlatImage::Placement::Into:
            std::memcpy(placement.to, bytes.constData(), size_t(bytes.size()));
            return true;
        case FlatImage::Placement::Outside:
            return true;
        case FlatImage::Placement::Overlap:
            overlapLine = number;
            overlapAt = placement.overlapAt;
            return false;
        case FlatImage::Placement::PastAddress:
            problem = pastAddressText(lineName(uint64_t(number)), address, uint64_t(bytes.size()));
            return false;
        }
        return false;
    }
};

struct FinderSink {
    uint64_t address;
    int before;
    int found = 0;

    bool add(int number, uint64_t at, const QByteArray &bytes)
    {
        if (number >= before)
            return false;
        if (address >= at && address - at < uint64_t(bytes.size())) {
            found = number;
            return false;
        }
        return true;
    }
};

// Intel HEX state across records: the upper address part set by types 02 and 04.
template <typename Sink> struct HexReader {
    Sink &sink;
    QString &problem;
    uint64_t upper = 0;
    bool ended = false;

    bool fail(int number, const QString &what)
    {
        problem = lineName(uint64_t(number)) + QStringLiteral(": ") + what;
        return false;
    }

    bool take(int number, const QByteArray &line)
    {
        QByteArray record;
        if (line[0] != ':' || !decodeRecord(line.mid(1), record))
            return fail(number, QStringLiteral("not an Intel HEX record"));
        if (record.size() < 5 || record.size() != uint8_t(record[0]) + 5)
            return fail(number, QStringLiteral("the record's length does not match its count"));
        if (byteSum(record, record.size()) != 0)
            return fail(number, QStringLiteral("bad checksum"));
        const int count = uint8_t(record[0]);
        const uint32_t offset = bigEndian(record, 1, 2);
        const uint8_t type = uint8_t(record.at(3));
        switch (type) {
        case 0x00:
            return sink.add(number, upper + offset, record.mid(4, count));
        case 0x01:
            ended = true;
            return false;
        case 0x02:
        case 0x04:
            if (count != 2)
                return fail(number, QStringLiteral("an address record must hold 2 bytes"));
            upper = uint64_t(bigEndian(record, 4, 2)) << (type == 0x02 ? 4 : 16);
            return true;
        case 0x03:
        case 0x05:
            // Where the target begins, not part of the image; still a record of its own size.
            if (count != 4)
                return fail(number, QStringLiteral("a start address record must hold 4 bytes"));
            return true;
        default:
            return fail(number, QStringLiteral("unknown record type ") + QString::number(type));
        }
    }
};

// S-record types: the length of the address field, and what the record is.
struct SRecordType {
    int addressBytes;
    enum { Header, Data, Count, End, Invalid } kind;
};

SRecordType sRecordType(char type)
{
    switch (type) {
    case '0':
        return {2, SRecordType::Header};
    case '1':
        return {2, SRecordType::Data};
    case '2':
        return {3, SRecordType::Data};
    case '3':
        return {4, SRecordType::Data};
    case '5':
        return {2, SRecordType::Count};
    case '6':
        return {3, SRecordType::Count};
    case '7':
        return {4, SRecordType::End};
    case '8':
        return {3, SRecordType::End};
    case '9':
        return {2, SRecordType::End};
    default:
        return {0, SRecordType::Invalid};
    }
}

template <typename Sink> struct SRecordReader {
    Sink &sink;
    QString &problem;
    uint32_t dataRecords = 0;
    bool ended = false;

    bool fail(int number, const QString &what)
    {
        problem = lineName(uint64_t(number)) + QStringLiteral(": ") + what;
        return false;
    }

    bool take(int number, const QByteArray &line)
    {
        QByteArray record;
        if (line.size() < 2 || line[0] != 'S' || !decodeRecord(line.mid(2), record))
            return fail(number, QStringLiteral("not an S-record"));
        const SRecordType type = sRecordType(line[1]);
        if (type.kind == SRecordType::Invalid)
            return fail(number, QStringLiteral("unknown record type S") + QChar(line[1]));
        if (record.isEmpty() || record.size() != uint8_t(record[0]) + 1 ||
            record.size() < type.addressBytes + 2)
            return fail(number, QStringLiteral("the record's length does not match its count"));
        if ((byteSum(record, record.size() - 1) ^ 0xFF) != uint8_t(record[record.size() - 1]))
            return fail(number, QStringLiteral("bad checksum"));
        const uint32_t address = bigEndian(record, 1, type.addressBytes);
        switch (type.kind) {
        case SRecordType::Data:
            ++dataRecords;
            return sink.add(
                number, address,
                record.mid(1 + type.addressBytes, record.size() - 2 - type.addressBytes));
        case SRecordType::Count:
            if (address != (dataRecords & (type.addressBytes == 2 ? 0xFFFF : 0xFFFFFF)))
                return fail(number, QStringLiteral("the count record says ") +
                                        QString::number(address) +
                                        QStringLiteral(" data records, the file has ") +
                                        QString::number(dataRecords));
            return true;
        case SRecordType::End:
            ended = true;
            return false;
        default:
            return true;
        }
    }
};

// Feeds each line that is not blank to the reader, from the file's position, until the reader
// stops; a line longer than any record stops it too.
template <typename Reader> void scanLines(QIODevice &file, Reader &reader)
{
    char buffer[kLongestLine + 1];
    for (int number = 1;; ++number) {
        const qint64 got = file.readLine(buffer, sizeof buffer);
        if (got <= 0)
            return;
        QByteArray line = QByteArray::fromRawData(buffer, int(got));
        if (!line.endsWith('\n') && !file.atEnd()) {
            reader.fail(number, QStringLiteral("longer than any record"));
            return;
        }
        if (number == 1 && line.startsWith(kByteOrderMark))
            line = line.mid(kByteOrderMark.size());
        line = line.trimmed();
        if (!line.isEmpty() && !reader.take(number, line))
            return;
    }
}

// Reads the whole file with the reader of its format over the image; an overlap is named with
// the earlier record it ran into, found by a second look at the file.
template <template <typename> class Reader>
bool readRecords(QIODevice &file, FlatImage &image, QString &problem, const QString &noEnd)
{
    const qint64 start = file.pos();
    ImageSink sink{image, problem};
    Reader<ImageSink> reader{sink, problem};
    scanLines(file, reader);
    if (sink.overlapLine != 0) {
        FinderSink finder{sink.overlapAt, sink.overlapLine};
        QString ignored;
        Reader<FinderSink> again{finder, ignored};
        if (file.seek(start))
            scanLines(file, again);
        problem = overlapText(lineName(uint64_t(sink.overlapLine)), sink.overlapAt,
                              finder.found ? lineName(uint64_t(finder.found))
                                           : QStringLiteral("an earlier line"));
    }
    if (!problem.isEmpty())
        return false;
    if (!reader.ended)
        problem = noEnd;
    return reader.ended;
}

template <template <typename> class Reader>
bool readFlat(QIODevice &file, QByteArray &image, uint32_t &base, QString &problem,
              const QString &noEnd)
{
    FlatImage flat;
    return readRecords<Reader>(file, flat, problem, noEnd) &&
           flat.finish(image, base, problem, [](uint64_t line) { return lineName(line); });
}

} // namespace

QString lineName(uint64_t number)
{
    return QStringLiteral("line ") + QString::number(number);
}

bool looksLikeIntelHex(const QByteArray &line)
{
    return line.size() >= 11 && line[0] == ':' && isHexText(line.mid(1));
}

bool looksLikeSRecords(const QByteArray &line)
{
    return line.size() >= 10 && line[0] == 'S' && isHexText(line.mid(1));
}

bool readIntelHex(QIODevice &file, QByteArray &image, uint32_t &base, QString &problem)
{
    return readFlat<HexReader>(file, image, base, problem,
                               QStringLiteral("no end-of-file record: the file is incomplete"));
}

bool readSRecords(QIODevice &file, QByteArray &image, uint32_t &base, QString &problem)
{
    return readFlat<SRecordReader>(
        file, image, base, problem,
        QStringLiteral("no end record (S7, S8 or S9): the file is incomplete"));
}

} // namespace zq::ops
