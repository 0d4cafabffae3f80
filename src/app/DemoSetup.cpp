#include "app/DemoSetup.h"

#include "SampleImages.h"
#include "config/RegularFile.h"
#include "config/SettingsFile.h"
#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace zq::demo
{
namespace
{

// The boards report this MCU type; the sample update images carry it too.
constexpr uint32_t kDemoBoardMcu = 0x32F10300;
constexpr uint32_t kSampleVersion = 0x20260101;

// A name that is taken (by a file, a folder, a FIFO or device, or a link to any) is left as it
// is: the window reports a file it cannot read when it needs it.
bool writeIfMissing(const QDir &folder, const QString &name, const QByteArray &bytes,
                    QString *error)
{
    const QString path = folder.filePath(name);
    if (QFileInfo(path).exists() || config::replaceRegularFile(path, bytes))
        return true;
    *error = QStringLiteral("cannot write ") + path;
    return false;
}

QByteArray catalogue()
{
    QFile resource(QStringLiteral(":/demo/Flash.ini"));
    return resource.open(QIODevice::ReadOnly) ? resource.readAll() : QByteArray();
}

// Line 1 allows the boot update. A config.ini that is no regular file is left to the window,
// which treats it as any config.ini it cannot open.
bool allowBootUpdate(const QDir &folder, QString *error)
{
    const QString path = folder.filePath(QStringLiteral("config.ini"));
    if (config::allowBootUpdate(path) != config::BootUpdateLine::Failed)
        return true;
    *error = QStringLiteral("cannot write ") + path;
    return false;
}

} // namespace

QString defaultWorkFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base + QStringLiteral("/zq-programmer-demo");
}

bool prepareWorkFolder(const QString &path, QString *error)
{
    QDir folder(path);
    if (!folder.mkpath(QStringLiteral("Firmware")) || !folder.mkpath(QStringLiteral("Bootware"))) {
        *error = QStringLiteral("cannot create ") + path;
        return false;
    }
    using namespace zq::samples;
    return writeIfMissing(folder, QStringLiteral("Flash.ini"), catalogue(), error) &&
           writeIfMissing(folder, QStringLiteral("demo.bin"), demoCodeImage(), error) &&
           writeIfMissing(folder, QStringLiteral("Firmware/demo.app"),
                          programmerImage(kSampleVersion, kDemoBoardMcu, 0xA5C37755), error) &&
           writeIfMissing(folder, QStringLiteral("Bootware/demo.boot"),
                          programmerImage(kSampleVersion, kDemoBoardMcu, 0x5A3C0001), error) &&
           allowBootUpdate(folder, error);
}

void plugDemoBoards()
{
    emu::BoardIdentity working;
    working.mode = emu::BoardMode::Normal;
    working.boardMcu = kDemoBoardMcu;
    working.boardId = 0x00012345;
    working.flashId = 0xEF4018;
    emu::BoardIdentity updating = working;
    updating.mode = emu::BoardMode::McuUpdate;
    updating.boardId = 0x00012346;
    updating.flashId = 0xC84017;
    emu::EmulatedBus &bus = emu::EmulatedBus::instance();
    bus.plug(std::make_shared<emu::Board>(working));
    bus.plug(std::make_shared<emu::Board>(updating));
}

} // namespace zq::demo
