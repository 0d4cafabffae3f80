#include "config/SettingsFile.h"

#include "config/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QTextCodec>
#include <QTextStream>

namespace zq::config
{

namespace
{

constexpr int lastLineRead = 7;

void applyLine(int number, const QString &line, SettingsFile *settings)
{
    switch (number) {
    case 1:
        settings->bootUpdateEnabled = line.contains(QLatin1String("UPBOOT:1"));
        break;
    case 3:
        settings->mcuCodeLine = line;
        break;
    case 4:
        settings->secondPath = line.trimmed();
        break;
    case 7:
        settings->powerOff = line.contains(QLatin1String("PWROFF:1"));
        break;
    default:
        break;
    }
}

// The writer encodes with the locale's codec, so the reader decodes with it too.
SettingsFile readLines(QTextStream &stream)
{
    stream.setCodec(QTextCodec::codecForLocale());
    SettingsFile settings;
    settings.opened = true;
    for (int number = 1; number <= lastLineRead && !stream.atEnd(); ++number)
        applyLine(number, stream.readLine(), &settings);
    return settings;
}

// config.ini holds seven short lines; anything far larger is no settings file to rewrite.
constexpr qint64 maxRewrittenBytes = qint64(16) << 20;

// Line 1 becomes UPBOOT:1; the lines after it stay as they are, and so does line 1's end.
QByteArray withBootUpdateAllowed(const QByteArray &content)
{
    const int end = content.indexOf('\n');
    QByteArray rest = end < 0 ? QByteArray("\n") : content.mid(end);
    if (end > 0 && content.at(end - 1) == '\r')
        rest.prepend('\r');
    return QByteArray("UPBOOT:1") + rest;
}

} // namespace

QString settingsFilePath()
{
    return QDir::currentPath() + QStringLiteral("/config.ini");
}

SettingsFile readSettingsFile(const QString &path)
{
    QFile file;
    if (openRegularFile(file, path) != FileProblem::None)
        return {};
    QTextStream stream(&file);
    return readLines(stream);
}

SettingsFile parseSettingsFile(const QByteArray &content)
{
    QTextStream stream(content, QIODevice::ReadOnly);
    return readLines(stream);
}

QByteArray settingsFileContent(const QString &mcuCodePath, const QString &secondPath, bool powerOff)
{
    QString text = QStringLiteral("UPBOOT:0\n") + QStringLiteral("NFLASH:0\n") + mcuCodePath +
                   QLatin1Char('\n') + secondPath + QLatin1Char('\n') +
                   QStringLiteral("BLSET:0\n") + QStringLiteral("WAITT:") + QString::number(0) +
                   QLatin1Char('\n') +
                   (powerOff ? QStringLiteral("PWROFF:1\n") : QStringLiteral("PWROFF:0\n"));
#ifdef Q_OS_WIN
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
#endif
    return QTextCodec::codecForLocale()->fromUnicode(text);
}

bool writeSettingsFile(const QString &path, const QString &mcuCodePath, const QString &secondPath,
                       bool powerOff)
{
    return replaceRegularFile(path, settingsFileContent(mcuCodePath, secondPath, powerOff));
}

BootUpdateLine allowBootUpdate(const QString &path)
{
    QByteArray content;
    const FileProblem read = readRegularFile(path, maxRewrittenBytes, content);
    if (read == FileProblem::Folder || read == FileProblem::NotRegular)
        return BootUpdateLine::NotRegularFile;
    if (read != FileProblem::None && read != FileProblem::Missing)
        return BootUpdateLine::Failed;
    return replaceRegularFile(path, withBootUpdateAllowed(content)) ? BootUpdateLine::Written
                                                                    : BootUpdateLine::Failed;
}

} // namespace zq::config
