#include "cli/FlashIniSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace zq::cli
{

namespace
{

const QString kName = QStringLiteral("Flash.ini");

QString configFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rule: a relative value is ignored.
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

} // namespace

QStringList flashIniPlaces()
{
    QStringList places{QDir::current().filePath(kName),
                       configFolder() + QStringLiteral("/zq-programmer/") + kName};
    const QString besideProgram =
        QDir::cleanPath(QCoreApplication::applicationDirPath() +
                        QStringLiteral("/../share/zq-programmer/") + kName);
    places << besideProgram;
    const QString installed = QStringLiteral(ZQ_INSTALLED_DATADIR "/zq-programmer/") + kName;
    if (QDir::cleanPath(installed) != besideProgram)
        places << installed;
    return places;
}

FlashIniChoice findFlashIni(const QString &option)
{
    FlashIniChoice choice;
    if (!option.isEmpty()) {
        choice.tried = QStringList{option};
        if (QFileInfo(option).isFile())
            choice.path = option;
        else
            choice.error = QStringLiteral("--flash-ini ") + option +
                           (QFileInfo::exists(option) ? QStringLiteral(": not a file")
                                                      : QStringLiteral(": does not exist"));
        return choice;
    }
    choice.tried = flashIniPlaces();
    for (const QString &place : choice.tried) {
        if (QFileInfo(place).isFile()) {
            choice.path = place;
            break;
        }
    }
    return choice;
}

} // namespace zq::cli
