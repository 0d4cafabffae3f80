#include "operations/ImageFile.h"

#include "operations/ElfFile.h"
#include "operations/FlatImage.h"
#include "operations/RecordFiles.h"

#include <new>

namespace zq::ops
{

namespace
{

using config::FileProblem;

// HEX and S-record text takes a little under three characters per byte of image.
constexpr qint64 kLargestRecordFile = qint64(64) << 20;
constexpr qint64 kHeadSize = 512;

LoadedImage unreadable(FileProblem problem)
{
    LoadedImage image;
    image.fileProblem = problem;
    return image;
}

LoadedImage refused(ImageFormat format, const QString &problem)
{
    LoadedImage image;
    image.status = LoadedImage::Status::Refused;
    image.format = format;
    image.problem = problem;
    return image;
}

LoadedImage ready(ImageFormat format, QByteArray bytes, uint32_t base)
{
    LoadedImage image;
    image.status = LoadedImage::Status::Ready;
    image.format = format;
    image.bytes = std::move(bytes);
    image.base = base;
    return image;
}

// The rest of an open file from its start, when it holds at most maxBytes and yields exactly
// its size.
FileProblem readWhole(QIODevice &file, qint64 maxBytes, QByteArray &bytes)
{
    const qint64 size = file.size();
    if (size > maxBytes)
        return FileProblem::TooLarge;
    if (!file.seek(0))
        return FileProblem::Unreadable;
    const FileProblem read = config::readExactly(file, size, bytes);
    if (read != FileProblem::None)
        return read;
    char more = 0;
    return file.read(&more, 1) == 0 ? FileProblem::None : FileProblem::SizeChanged;
}

// Printable characters (UTF-8 included), tabs and line ends, and nothing else: what an editor
// or a generator writes. A compiled image starts with its stack and entry addresses, whose
// bytes are never all of these.
bool isText(const QByteArray &bytes)
{
    const int size = bytes.size();
    int at = bytes.startsWith(kByteOrderMark) ? kByteOrderMark.size() : 0;
    if (at == size)
        return at > 0;
    while (at < size) {
        const uint8_t c = uint8_t(bytes[at]);
        if (c < 0x80) {
            if ((c < 0x20 || c == 0x7F) && c != '\t' && c != '\n' && c != '\r')
                return false;
            ++at;
            continue;
        }
        const int more = c >= 0xC2 && c <= 0xDF   ? 1
                         : c >= 0xE0 && c <= 0xEF ? 2
                         : c >= 0xF0 && c <= 0xF4 ? 3
                                                  : 0;
        if (more == 0 || size - at <= more)
            return false;
        for (int i = 1; i <= more; ++i)
            if ((uint8_t(bytes[at + i]) & 0xC0) != 0x80)
                return false;
        at += more + 1;
    }
    return true;
}

LoadedImage loadRecords(QIODevice &file, ImageFormat format)
{
    if (file.size() > kLargestRecordFile)
        return unreadable(FileProblem::TooLarge);
    if (!file.seek(0))
        return unreadable(FileProblem::Unreadable);
    QByteArray bytes;
    uint32_t base = 0;
    QString problem;
    const bool read = format == ImageFormat::IntelHex ? readIntelHex(file, bytes, base, problem)
                                                      : readSRecords(file, bytes, base, problem);
    return read ? ready(format, std::move(bytes), base) : refused(format, problem);
}

LoadedImage loadElf(QIODevice &file)
{
    QByteArray bytes;
    uint32_t base = 0;
    QString problem;
    return readElf(file, bytes, base, problem) ? ready(ImageFormat::Elf, std::move(bytes), base)
                                               : refused(ImageFormat::Elf, problem);
}

LoadedImage loadRaw(QIODevice &file)
{
    QByteArray bytes;
    const FileProblem read = readWhole(file, kLargestImage, bytes);
    if (read != FileProblem::None)
        return unreadable(read);
    return ready(ImageFormat::Raw, std::move(bytes), 0);
}

// The records a text begins with, as tools that read them tell: the first character of the
// file (after a byte-order mark) starts a record. When blank lines or spaces come first, the
// format they hide, so that the refusal can name it.
struct Head {
    ImageFormat format = ImageFormat::Raw;
    bool blankFirst = false;
};

Head recordHead(QByteArray head)
{
    if (head.startsWith(kByteOrderMark))
        head.remove(0, kByteOrderMark.size());
    const QByteArray trimmed = head.trimmed();
    const int end = trimmed.indexOf('\n');
    const QByteArray line = (end < 0 ? trimmed : trimmed.left(end)).trimmed();
    Head found;
    if (looksLikeIntelHex(line))
        found.format = ImageFormat::IntelHex;
    else if (looksLikeSRecords(line))
        found.format = ImageFormat::SRecord;
    found.blankFirst = found.format != ImageFormat::Raw && !head.startsWith(line.left(1));
    return found;
}

LoadedImage refuseText(LoadedImage image)
{
    if (image.status == LoadedImage::Status::Ready && isText(image.bytes))
        return refused(ImageFormat::Raw, kTextNotAnImage);
    return image;
}

template <typename Load> LoadedImage guarded(Load load)
{
    try {
        return load();
    } catch (const std::bad_alloc &) {
        return unreadable(FileProblem::Unreadable);
    }
}

} // namespace

const QString kTextNotAnImage =
    QStringLiteral("not an image: a text file that is not Intel HEX or S-record");

QString imageFormatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Raw:
        break;
    case ImageFormat::IntelHex:
        return QStringLiteral("Intel HEX");
    case ImageFormat::SRecord:
        return QStringLiteral("Motorola S-record");
    case ImageFormat::Elf:
        return QStringLiteral("ELF");
    }
    return QStringLiteral("raw binary");
}

QString LoadedImage::reason() const
{
    switch (status) {
    case Status::Ready:
        break;
    case Status::Unreadable:
        return config::fileProblemText(fileProblem);
    case Status::Refused:
        // A file of no format of ours is refused for what it is, not as a raw binary.
        if (format == ImageFormat::Raw)
            return problem;
        return imageFormatName(format) + QStringLiteral(", ") + problem;
    }
    return QString();
}

LoadedImage loadImageAs(QIODevice &file, ImageFormat format)
{
    return guarded([&file, format] {
        switch (format) {
        case ImageFormat::IntelHex:
        case ImageFormat::SRecord:
            return loadRecords(file, format);
        case ImageFormat::Elf:
            return loadElf(file);
        case ImageFormat::Raw:
            break;
        }
        return loadRaw(file);
    });
}

LoadedImage loadCodeImageFrom(QIODevice &file)
{
    const QByteArray head = file.peek(kHeadSize);
    if (looksLikeElf(head))
        return loadImageAs(file, ImageFormat::Elf);
    const Head records = recordHead(head);
    if (records.blankFirst)
        return refused(records.format,
                       QStringLiteral("line 1: blank lines or spaces before the first record; "
                                      "a record file begins with its first record"));
    if (records.format != ImageFormat::Raw)
        return loadImageAs(file, records.format);
    return refuseText(loadImageAs(file, ImageFormat::Raw));
}

LoadedImage loadCodeImage(const QString &path)
{
    QFile file;
    const FileProblem opened = config::openRegularFile(file, path);
    if (opened != FileProblem::None)
        return unreadable(opened);
    return loadCodeImageFrom(file);
}

LoadedImage loadRawImage(const QString &path)
{
    QFile file;
    const FileProblem opened = config::openRegularFile(file, path);
    if (opened != FileProblem::None)
        return unreadable(opened);
    return loadImageAs(file, ImageFormat::Raw);
}

QString imageRefusal(const QString &name, const LoadedImage &image)
{
    return name + QStringLiteral(": ") + image.reason();
}

QString imageDescription(const QString &name, const LoadedImage &image)
{
    QString text = name + QStringLiteral(": ") + imageFormatName(image.format) +
                   QStringLiteral(", ") + QString::number(image.bytes.size()) +
                   QStringLiteral(" bytes");
    if (image.format != ImageFormat::Raw)
        text += QStringLiteral(" from ") + addressText(image.base);
    return text;
}

} // namespace zq::ops
