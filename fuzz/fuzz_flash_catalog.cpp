// A whole Flash.ini as it may lie on disk: any bytes, any line ends, header lines anywhere. The
// lookup must give the entry of the first line, in file order, that the line parser matches.
#include "config/FlashCatalog.h"
#include "FuzzCheck.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

using zq::config::findFlash;
using zq::config::FlashEntry;
using zq::config::parseFlashLine;

namespace
{

// One catalogue file for the whole run, rewritten for every input; in memory where the system
// offers a RAM file system, as a disk write per input would slow the run tenfold.
const QString &catalogPath()
{
    static const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static QTemporaryDir folder(base + QStringLiteral("/zq-fuzz-catalog-XXXXXX"));
    static const QString path = folder.path() + QStringLiteral("/Flash.ini");
    return path;
}

// The lines as the catalogue's reader should see them: split after each LF, then without the
// LF and one CR before it.
QList<QByteArray> linesOf(const QByteArray &content)
{
    QList<QByteArray> lines;
    int start = 0;
    while (start < content.size()) {
        int end = content.indexOf('\n', start);
        const int next = end < 0 ? content.size() : end + 1;
        if (end < 0)
            end = content.size();
        QByteArray line = content.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        start = next;
    }
    return lines;
}

FlashEntry expectedEntry(const QList<QByteArray> &lines, uint32_t flashId)
{
    FlashEntry entry;
    for (const QByteArray &line : lines) {
        if (line.startsWith("[FLASH]"))
            continue;
        if (parseFlashLine(line, flashId, &entry))
            break;
    }
    return entry;
}

uint32_t bigEndian32(const uint8_t *bytes)
{
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
           uint32_t(bytes[3]);
}

void checkLookup(const QList<QByteArray> &lines, uint32_t flashId)
{
    const FlashEntry expected = expectedEntry(lines, flashId);
    const FlashEntry found = findFlash(catalogPath(), flashId);
    ZQ_FUZZ_CHECK(found.matched == expected.matched);
    ZQ_FUZZ_CHECK(found.size == expected.size);
    ZQ_FUZZ_CHECK(found.name == expected.name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const QByteArray content(reinterpret_cast<const char *>(data + 4), int(size - 4));
    {
        QFile file(catalogPath());
        ZQ_FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ZQ_FUZZ_CHECK(file.write(content) == content.size());
    }
    const QList<QByteArray> lines = linesOf(content);

    checkLookup(lines, bigEndian32(data));
    // The ids of the catalogue's own entries, so that lookups find something: a line's id
    // field is whatever precedes its first comma, read as a number.
    int asked = 0;
    for (const QByteArray &line : lines) {
        if (asked == 4)
            break;
        const int comma = line.indexOf(',');
        if (comma < 0 || line.startsWith("[FLASH]"))
            continue;
        QByteArray idField;
        for (const char c : line.left(comma))
            if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') ||
                c == 'x' || c == 'X')
                idField.append(c);
        checkLookup(lines, uint32_t(zq::config::parseNumber(idField)));
        ++asked;
    }
    return 0;
}
