#pragma once

#include "SampleImages.h"
#include "TestFiles.h"
#include "TestImages.h"
#include "frontend/NumberText.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdint>

namespace zq::test
{

// The boards' MCU type, which the sample update images carry too.
constexpr uint32_t kSampleMcu = 0x32F10300;
constexpr uint32_t kSampleVersion = 0x20260101;

// What one run of zqprog left.
struct ZqprogRun {
    int exitCode = -1;
    QStringList out; // stdout lines
    QString err;     // stderr, whole

    // The log lines as the window would show them: no progress lines, the clock masked.
    QStringList log() const
    {
        QStringList lines;
        for (const QString &line : out) {
            if (line.startsWith(QLatin1String("Progress: ")))
                continue;
            lines << (line.startsWith(QLatin1String("Timer:")) ? QStringLiteral("Timer:") : line);
        }
        return lines;
    }
    QStringList errLines() const { return err.split('\n', Qt::SkipEmptyParts); }
};

// A working folder as a user would have it: the sample catalogue and images, and a state
// folder "board" for the emulated programmer.
class WorkFolder
{
public:
    WorkFolder()
    {
        QDir dir(folder.path());
        dir.mkpath(QStringLiteral("board"));
        QFile::copy(QStringLiteral(ZQ_SAMPLE_FLASH_INI), dir.filePath(QStringLiteral("Flash.ini")));
        writeAll(dir.filePath(QStringLiteral("demo.bin")), codeImage());
        writeAll(dir.filePath(QStringLiteral("demo.app")), appImage());
        writeAll(dir.filePath(QStringLiteral("demo.boot")), bootImage());
    }

    static QByteArray codeImage() { return samples::demoCodeImage(); }
    static QByteArray appImage()
    {
        return samples::programmerImage(kSampleVersion, kSampleMcu, 0xA5C37755);
    }
    static QByteArray bootImage()
    {
        return samples::programmerImage(kSampleVersion, kSampleMcu, 0x5A3C0001);
    }

    QString path(const QString &name) const { return QDir(folder.path()).filePath(name); }
    QString board() const { return path(QStringLiteral("board")); }
    QString emulated() const { return QStringLiteral("--emulated=") + board(); }

    // board.ini of the emulated programmer, before its first run.
    void setBoard(const QByteArray &boardIni) const
    {
        writeAll(path(QStringLiteral("board/board.ini")), boardIni);
    }
    QByteArray boardFile(const QString &name) const { return readAll(board() + '/' + name); }

    ZqprogRun run(const QStringList &arguments,
                  const QString &program = QStringLiteral(ZQPROG_PATH)) const
    {
        QProcess process;
        process.setWorkingDirectory(folder.path());
        process.setProcessEnvironment(environment());
        process.start(program, arguments);
        ZqprogRun result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput()).split('\n');
        if (!result.out.isEmpty() && result.out.last().isEmpty())
            result.out.removeLast();
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // The user's own configuration and records stay out of the runs: Flash.ini is looked for
    // there, and the default record store and the spool live in the data folder.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        return environment;
    }

    QTemporaryDir folder;
};

// What "Open programmer" logs for the emulated board with the given mode line and versions.
inline QStringList openLog(const QString &modeLine, uint32_t boot = 0x20250128,
                           uint32_t app = 0x20250310)
{
    return {QStringLiteral("Open the programmer ok..."),
            modeLine,
            QStringLiteral("The Board MCU&ID: 0x32F10300,0x00012345"),
            QStringLiteral("Boot_Version: ") + toHexText(boot, 6),
            QStringLiteral("App_Version:  ") + toHexText(app, 6),
            QStringLiteral("FlashID:  0xEF4018"),
            QStringLiteral("Connect the programmer successful")};
}

inline const QString kNormalWork = QStringLiteral("Connection for normal work");
inline const QString kMcuUpdate = QStringLiteral("Connection for update mcu code");

// Every stdout line of a --json run as an object; an empty list when any line is not one.
inline QList<QJsonObject> jsonLines(const ZqprogRun &run)
{
    QList<QJsonObject> objects;
    for (const QString &line : run.out) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return {};
        objects << document.object();
    }
    return objects;
}

} // namespace zq::test
