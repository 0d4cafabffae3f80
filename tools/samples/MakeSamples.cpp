// Writes demo.bin, Firmware/demo.app and Bootware/demo.boot into a folder, so the program can be
// tried end to end against the emulated programmer: the update images carry a newer version
// than the emulator starts with, and the board MCU type it reports.
#include "SampleImages.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace
{

constexpr uint32_t kDefaultMcu = 0x32F10300;
constexpr uint32_t kDefaultVersion = 0x20260101;

bool parseHex(const QString &text, uint32_t &value)
{
    bool ok = false;
    value = text.toUInt(&ok, 0);
    return ok;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%d bytes)\n", qPrintable(path), int(bytes.size()));
    return true;
}

bool writeSamples(const QDir &out, uint32_t mcu, uint32_t version)
{
    if (!out.mkpath(QStringLiteral("Firmware")) || !out.mkpath(QStringLiteral("Bootware"))) {
        std::fprintf(stderr, "cannot create folders in %s\n", qPrintable(out.path()));
        return false;
    }
    using namespace zq::samples;
    return writeFile(out.filePath(QStringLiteral("demo.bin")), demoCodeImage()) &&
           writeFile(out.filePath(QStringLiteral("Firmware/demo.app")),
                     programmerImage(version, mcu, 0xA5C37755)) &&
           writeFile(out.filePath(QStringLiteral("Bootware/demo.boot")),
                     programmerImage(version, mcu, 0x5A3C0001));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes demo.bin, Firmware/demo.app and Bootware/demo.boot into OUTDIR."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("mcu"),
                      QStringLiteral("Board MCU type in the image headers (default 0x32F10300)."),
                      QStringLiteral("type")});
    parser.addOption({QStringLiteral("version"),
                      QStringLiteral("Version in the image headers, 0x20xxxxxx "
                                     "(default 0x20260101)."),
                      QStringLiteral("version")});
    parser.addPositionalArgument(QStringLiteral("OUTDIR"), QStringLiteral("Folder to write to."));
    parser.process(app);

    const QStringList folders = parser.positionalArguments();
    if (folders.size() != 1)
        parser.showHelp(2);
    uint32_t mcu = kDefaultMcu;
    uint32_t version = kDefaultVersion;
    if (parser.isSet(QStringLiteral("mcu")) &&
        !parseHex(parser.value(QStringLiteral("mcu")), mcu)) {
        std::fprintf(stderr, "--mcu takes a number such as 0x32F10300\n");
        return 2;
    }
    // Only the low three bytes travel in the header; the programmer adds 0x20 itself.
    if (parser.isSet(QStringLiteral("version")) &&
        (!parseHex(parser.value(QStringLiteral("version")), version) || (version >> 24) != 0x20)) {
        std::fprintf(stderr, "--version takes a number of the form 0x20xxxxxx\n");
        return 2;
    }
    const QDir out(folders.first());
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 1;
    }
    return writeSamples(out, mcu, version) ? 0 : 1;
}
