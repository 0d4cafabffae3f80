// config.ini as it may be found: any bytes, any line ends, any length. Reading must fill the
// fields in line order only, and what the program writes back must read back the same.
#include "FuzzCheck.h"
#include "config/SettingsFile.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>

#include <cstddef>
#include <cstdint>

using zq::config::parseSettingsFile;
using zq::config::SettingsFile;
using zq::config::settingsFileContent;

namespace
{

void checkShape(const SettingsFile &settings)
{
    ZQ_FUZZ_CHECK(settings.opened);
    // Lines are read in order, so a later field is never present without the earlier ones.
    if (settings.powerOff)
        ZQ_FUZZ_CHECK(settings.secondPath.has_value());
    if (settings.secondPath)
        ZQ_FUZZ_CHECK(settings.mcuCodeLine.has_value());
    if (settings.mcuCodeLine)
        ZQ_FUZZ_CHECK(settings.bootUpdateEnabled.has_value());
    if (settings.mcuCodeLine)
        ZQ_FUZZ_CHECK(!settings.mcuCodeLine->contains(QLatin1Char('\n')));
    if (settings.secondPath) {
        ZQ_FUZZ_CHECK(!settings.secondPath->contains(QLatin1Char('\n')));
        ZQ_FUZZ_CHECK(*settings.secondPath == settings.secondPath->trimmed());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), int(size));
    const SettingsFile read = parseSettingsFile(content);
    checkShape(read);
    if (content.isEmpty())
        ZQ_FUZZ_CHECK(!read.bootUpdateEnabled && !read.mcuCodeLine && !read.secondPath &&
                      !read.powerOff);

    // What the window would save after this read, read again: the paths and the power-off choice
    // survive, and the boot update switch is always written off. Text the locale's codec cannot
    // carry is the one thing allowed to change.
    const QString mcuCodePath = read.mcuCodeLine.value_or(QString()).trimmed();
    const QString secondPath = read.secondPath.value_or(QString());
    const bool powerOff = read.powerOff.value_or(false);
    const QByteArray written = settingsFileContent(mcuCodePath, secondPath, powerOff);
    const SettingsFile again = parseSettingsFile(written);
    checkShape(again);
    ZQ_FUZZ_CHECK(again.bootUpdateEnabled == std::optional<bool>(false));
    ZQ_FUZZ_CHECK(again.powerOff == std::optional<bool>(powerOff));
    QTextCodec *codec = QTextCodec::codecForLocale();
    if (codec->canEncode(mcuCodePath))
        ZQ_FUZZ_CHECK(again.mcuCodeLine == std::optional<QString>(mcuCodePath));
    if (codec->canEncode(secondPath))
        ZQ_FUZZ_CHECK(again.secondPath == std::optional<QString>(secondPath));
    return 0;
}
