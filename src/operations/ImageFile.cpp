#include "operations/ImageFile.h"

#include "operations/ElfFile.h"
#include "operations/FlatImage.h"
#include "operations/RecordFiles.h"

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

LoadedImage fromLoadedData(ImageFormat format, bool read, const LoadedData &data, QString problem)
{
    if (!read)
        return refused(format, problem);
    QByteArray bytes;
    uint32_t base = 0;
    if (!data.flatten(bytes, base, problem))
        return refused(format, problem);
    return ready(format, std::move(bytes), base);
}

// The rest of an open file from its start, when it holds at most maxBytes and yields exactly
// its size.
FileProblem readWhole(QFile &file, qint64 maxBytes, QByteArray &bytes)
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

LoadedImage loadRecords(QFile &file, ImageFormat format)
{
    QByteArray text;
    const FileProblem read = readWhole(file, kLargestRecordFile, text);
    if (read != FileProblem::None)
        return unreadable(read);
    LoadedData data;
    QString problem;
    const bool parsed = format == ImageFormat::IntelHex ? readIntelHex(text, data, problem)
                                                        : readSRecords(text, data, problem);
    return fromLoadedData(format, parsed, data, problem);
}

LoadedImage loadRaw(QFile &file)
{
    QByteArray bytes;
    const FileProblem read = readWhole(file, kLargestImage, bytes);
    if (read != FileProblem::None)
        return unreadable(read);
    return ready(ImageFormat::Raw, std::move(bytes), 0);
}

} // namespace

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
        return imageFormatName(format) + QStringLiteral(", ") + problem;
    }
    return QString();
}

LoadedImage loadCodeImage(const QString &path)
{
    QFile file;
    const FileProblem opened = config::openRegularFile(file, path);
    if (opened != FileProblem::None)
        return unreadable(opened);
    const QByteArray head = file.peek(kHeadSize);
    if (looksLikeElf(head)) {
        LoadedData data;
        QString problem;
        const bool read = readElf(file, data, problem);
        return fromLoadedData(ImageFormat::Elf, read, data, problem);
    }
    if (looksLikeIntelHex(head))
        return loadRecords(file, ImageFormat::IntelHex);
    if (looksLikeSRecords(head))
        return loadRecords(file, ImageFormat::SRecord);
    return loadRaw(file);
}

LoadedImage loadRawImage(const QString &path)
{
    QFile file;
    const FileProblem opened = config::openRegularFile(file, path);
    if (opened != FileProblem::None)
        return unreadable(opened);
    return loadRaw(file);
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
