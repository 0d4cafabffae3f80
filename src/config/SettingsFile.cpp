#include "config/SettingsFile.h"

#include "config/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
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

// Opening for append neither creates nor changes an existing file, and tells whether the
// system would let us write it. Checked here so that a read-only config.ini stays protected
// whatever QSaveFile of the Qt version at hand does with it.
bool existingFileWritable(const QString &path)
{
    const FileProblem type = regularFileProblem(path);
    if (type == FileProblem::Missing)
        return true;
    // Opening a FIFO for writing would wait for a reader for good.
    if (type != FileProblem::None)
        return false;
    QFile probe(path);
    return probe.open(QIODevice::WriteOnly | QIODevice::Append);
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
    if (!existingFileWritable(path))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray content = settingsFileContent(mcuCodePath, secondPath, powerOff);
    if (file.write(content) != content.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace zq::config
