#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace zq::config
{

// config.ini in the current working directory; the executable's folder plays no part.
QString settingsFilePath();

// What a read of config.ini found. A field is set only when its line was present, so the
// window keeps its own defaults for everything a short file leaves out.
struct SettingsFile {
    bool opened = false;
    std::optional<bool> bootUpdateEnabled; // line 1 contains "UPBOOT:1" (case-sensitive)
    std::optional<QString> mcuCodeLine;    // line 3 exactly as read; trimmed, it is mcuCodePath
    std::optional<QString> secondPath;     // line 4, trimmed
    std::optional<bool> powerOff;          // line 7 contains "PWROFF:1"
};

// Reads at most seven lines; a line ends at LF or CR LF. A file that cannot be opened gives
// opened == false and nothing else.
SettingsFile readSettingsFile(const QString &path);

// The same reading applied to bytes already in memory (always opened).
SettingsFile parseSettingsFile(const QByteArray &content);

// The seven lines as they are written, with the platform's text line ends, in the locale's codec.
// Lines 1, 2, 5 and 6 never change, whatever was read.
QByteArray settingsFileContent(const QString &mcuCodePath, const QString &secondPath,
                               bool powerOff);

// Replaces the file through a temporary file and a rename, so the old file survives any
// failure. False when the existing file or its folder is not writable, it is no regular file
// (a folder, FIFO or device, or a link to one: left as it is), or the write fails.
bool writeSettingsFile(const QString &path, const QString &mcuCodePath, const QString &secondPath,
                       bool powerOff);

// What allowBootUpdate did to the file.
enum class BootUpdateLine {
    Written,        // line 1 is UPBOOT:1 now
    NotRegularFile, // a folder, FIFO or device, or a link to one: left as it is
    Failed          // a regular file (or none) that could not be read whole or replaced: unchanged
};

// Sets line 1 to UPBOOT:1 and keeps every other byte, line ends included; a missing file gets
// that one line. The file is read whole and closed before it is replaced (Windows does not
// replace an open file), under the same rule as writeSettingsFile.
BootUpdateLine allowBootUpdate(const QString &path);

} // namespace zq::config
