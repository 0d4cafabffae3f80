#include "config/FlashCatalog.h"

#include "config/RegularFile.h"

#include <QDir>
#include <QFile>

namespace zq::config
{

namespace
{

constexpr int fieldCount = 4;
constexpr int nameField = 3;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

uint32_t hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return uint32_t(c - '0');
    if (c >= 'A' && c <= 'F')
        return uint32_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return uint32_t(c - 'a' + 10);
    return 0;
}

bool countsInNumber(char c)
{
    return isHexDigit(c) || c == 'x' || c == 'X';
}

bool countsInName(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x21 && byte <= 0x7F;
}

bool looksHex(const QByteArray &collected)
{
    return collected.size() >= 2 && (collected[1] == 'x' || collected[1] == 'X');
}

int32_t parseHex(const QByteArray &collected)
{
    if (collected.size() < 3 || collected.size() > 10)
        return 0;
    uint32_t value = 0;
    for (int i = 2; i < collected.size(); ++i)
        value = (value << 4) | hexDigitValue(collected[i]);
    return static_cast<int32_t>(value);
}

int32_t parseDecimal(const QByteArray &collected)
{
    bool ok = false;
    const int value = collected.toInt(&ok, 10);
    return ok ? int32_t(value) : 0;
}

// The product of two factors as the 32-bit multiplication gives it, without signed overflow.
int32_t wrappedProduct(int32_t first, int32_t second)
{
    return static_cast<int32_t>(uint32_t(first) * uint32_t(second));
}

struct Fields {
    int complete = 0;
    int32_t numbers[nameField] = {0, 0, 0};
    QByteArray name;
};

Fields splitFields(const QByteArray &line)
{
    Fields fields;
    QByteArray collected;
    for (const char c : line) {
        const bool inName = fields.complete == nameField;
        if (c == ',') {
            if (inName)
                fields.name = collected;
            else
                fields.numbers[fields.complete] = parseNumber(collected);
            collected.clear();
            if (++fields.complete == fieldCount)
                break;
        } else if (inName ? countsInName(c) : countsInNumber(c)) {
            collected.append(c);
        }
    }
    return fields;
}

QByteArray withoutLineEnd(QByteArray line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

QString flashCatalogPath()
{
    return QDir::currentPath() + QStringLiteral("/Flash.ini");
}

int32_t parseNumber(const QByteArray &collected)
{
    return looksHex(collected) ? parseHex(collected) : parseDecimal(collected);
}

bool parseFlashLine(const QByteArray &line, uint32_t flashId, FlashEntry *entry)
{
    const Fields fields = splitFields(line);
    if (fields.complete < 1 || uint32_t(fields.numbers[0]) != flashId)
        return false;
    if (entry) {
        entry->matched = true;
        entry->size = wrappedProduct(fields.numbers[1], fields.numbers[2]);
        entry->fullSize = int64_t(fields.numbers[1]) * int64_t(fields.numbers[2]);
        entry->name = QString::fromLatin1(fields.name);
    }
    return true;
}

FlashEntry findFlash(const QString &catalogPath, uint32_t flashId)
{
    FlashEntry entry;
    QFile file;
    if (openRegularFile(file, catalogPath) != FileProblem::None)
        return entry;
    // Every line but an unterminated last one keeps its '\n', so an empty read means the end
    // of the file or a read error; either way there is nothing more to find.
    for (QByteArray line = file.readLine(); !line.isEmpty(); line = file.readLine()) {
        line = withoutLineEnd(line);
        if (line.startsWith("[FLASH]"))
            continue;
        if (parseFlashLine(line, flashId, &entry))
            break;
    }
    return entry;
}

} // namespace zq::config
