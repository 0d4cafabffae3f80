#include "operations/RecordFiles.h"
#include "common/ByteOrder.h"

#include <QList>

#include <cctype>

namespace zq::ops
{

namespace
{

QString lineName(int number)
{
    return QStringLiteral("line ") + QString::number(number);
}

bool isHexText(const QByteArray &text)
{
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return !text.isEmpty();
}

QByteArray firstLine(const QByteArray &head)
{
    const QByteArray trimmed = head.trimmed();
    const int end = trimmed.indexOf('\n');
    return (end < 0 ? trimmed : trimmed.left(end)).trimmed();
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

// Calls take(number, line) for each line that is not blank; stops when it returns false.
template <typename Take> void forEachLine(const QByteArray &text, Take take)
{
    int number = 0;
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        const QByteArray line = raw.trimmed();
        if (!line.isEmpty() && !take(number, line))
            return;
    }
}

// Intel HEX state across records: the upper address part set by types 02 and 04.
struct HexReader {
    LoadedData &data;
    QString &problem;
    uint64_t upper = 0;
    bool ended = false;

    bool fail(int number, const QString &what)
    {
        problem = lineName(number) + QStringLiteral(": ") + what;
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
            data.add(upper + offset, record.mid(4, count), lineName(number));
            return true;
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
            return true; // start address: where the target begins, not part of the image
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

struct SRecordReader {
    LoadedData &data;
    QString &problem;
    uint32_t dataRecords = 0;
    bool ended = false;

    bool fail(int number, const QString &what)
    {
        problem = lineName(number) + QStringLiteral(": ") + what;
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
            data.add(address,
                     record.mid(1 + type.addressBytes, record.size() - 2 - type.addressBytes),
                     lineName(number));
            return true;
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

} // namespace

bool looksLikeIntelHex(const QByteArray &head)
{
    const QByteArray line = firstLine(head);
    return line.size() >= 11 && line[0] == ':' && isHexText(line.mid(1));
}

bool looksLikeSRecords(const QByteArray &head)
{
    const QByteArray line = firstLine(head);
    return line.size() >= 10 && line[0] == 'S' && isHexText(line.mid(1));
}

namespace
{

// Feeds every line to the reader; a file that stops before its end record is incomplete.
template <typename Reader>
bool readRecords(const QByteArray &text, Reader reader, const QString &noEnd)
{
    forEachLine(
        text, [&reader](int number, const QByteArray &line) { return reader.take(number, line); });
    if (!reader.problem.isEmpty())
        return false;
    if (!reader.ended)
        reader.problem = noEnd;
    return reader.ended;
}

} // namespace

bool readIntelHex(const QByteArray &text, LoadedData &data, QString &problem)
{
    return readRecords(text, HexReader{data, problem},
                       QStringLiteral("no end-of-file record: the file is incomplete"));
}

bool readSRecords(const QByteArray &text, LoadedData &data, QString &problem)
{
    return readRecords(text, SRecordReader{data, problem},
                       QStringLiteral("no end record (S7, S8 or S9): the file is incomplete"));
}

} // namespace zq::ops
