#include "app/DemoSetup.h"

#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "SampleImages.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace zq::demo
{
namespace
{

// The boards report this MCU type; the sample update images carry it too.
constexpr uint32_t kDemoBoardMcu = 0x32F10300;
constexpr uint32_t kSampleVersion = 0x20260101;

bool writeIfMissing(const QDir &folder, const QString &name, const QByteArray &bytes,
                    QString *error)
{
    const QString path = folder.filePath(name);
    if (QFile::exists(path))
        return true;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("cannot write ") + path;
    return false;
}

QByteArray catalogue()
{
    QFile resource(QStringLiteral(":/demo/Flash.ini"));
    return resource.open(QIODevice::ReadOnly) ? resource.readAll() : QByteArray();
}

// Line 1 allows the boot update; the rest of the file is the user's and stays, line ends included.
bool allowBootUpdate(const QDir &folder, QString *error)
{
    const QString path = folder.filePath(QStringLiteral("config.ini"));
    QByteArray content;
    QFile old(path);
    if (old.open(QIODevice::ReadOnly))
        content = old.readAll();
    const int end = content.indexOf('\n');
    QByteArray rest = end < 0 ? QByteArray("\n") : content.mid(end);
    if (end > 0 && content.at(end - 1) == '\r')
        rest.prepend('\r');
    content = QByteArray("UPBOOT:1") + rest;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit())
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
