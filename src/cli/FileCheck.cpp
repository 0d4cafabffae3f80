#include "cli/FileCheck.h"

#include "common/Crc32.h"
#include "frontend/NumberText.h"
#include "operations/ImageFile.h"
#include "operations/Operations.h"

#include <QFileInfo>

namespace zq::cli
{

namespace
{

bool isUpdate(Command command)
{
    return command == Command::UpdateApp || command == Command::UpdateBoot;
}

// The window's dialogs show only .app files to the firmware update and only .boot files to
// the boot update.
QString wrongKindOfFile(Command command, const QString &file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (command == Command::UpdateApp && suffix == QLatin1String("boot"))
        return QStringLiteral("update-app writes the programmer's application, and ") + file +
               QStringLiteral(" is named as a boot loader image (.boot); use update-boot");
    if (command == Command::UpdateBoot && suffix == QLatin1String("app"))
        return QStringLiteral("update-boot writes the programmer's boot loader, and ") + file +
               QStringLiteral(" is named as an application image (.app); use update-app");
    return QString();
}

QString sizeProblem(Command command, const QString &file, int32_t length)
{
    if (length < ops::kShortestImage)
        return file + QStringLiteral(" holds ") + QString::number(length) +
               QStringLiteral(" bytes; an image needs at least ") +
               QString::number(ops::kShortestImage);
    if (isUpdate(command) && length > ops::kProgrammerFlashSize)
        return file + QStringLiteral(": ") + ops::oversizedUpdateText(length);
    return QString();
}

} // namespace

FileCheck checkFile(const Options &options)
{
    FileCheck check;
    if (!takesFile(options.command))
        return check;
    const QString &file = options.file;
    check.error = wrongKindOfFile(options.command, file);
    if (!check.error.isEmpty())
        return check;
    const ops::LoadedImage image =
        isUpdate(options.command) ? ops::loadRawImage(file) : ops::loadCodeImage(file);
    if (image.status != ops::LoadedImage::Status::Ready) {
        check.error = ops::imageRefusal(file, image);
        return check;
    }
    check.error = sizeProblem(options.command, file, image.bytes.size());
    // The CRC the operation sends and the programmer's "Check CRC:" lines show.
    const uint32_t crc = crc32(reinterpret_cast<const uint8_t *>(image.bytes.constData()),
                               size_t(image.bytes.size()));
    check.description =
        ops::imageDescription(file, image) + QStringLiteral(", CRC ") + toHexText(crc, 8);
    check.image = ImageIdentity{file, ops::imageFormatName(image.format), crc,
                                int32_t(image.bytes.size()), image.base};
    return check;
}

} // namespace zq::cli
