#pragma once

#include <QString>
#include <QStringList>

namespace zq::cli
{

// Where zqprog finds the flash catalogue. The window reads Flash.ini in its working folder;
// zqprog is run from wherever a script happens to be, so it also looks in the user's
// configuration and, last, at the sample the package installs.
struct FlashIniChoice {
    QString path;      // the file used; empty when none was found
    QString error;     // --flash-ini named a file that is not there
    QStringList tried; // the places looked at, in order
};

// The places after --flash-ini, in order: Flash.ini in the current directory,
// $XDG_CONFIG_HOME/zq-programmer/Flash.ini (~/.config when unset), then the installed sample
// (share/zq-programmer/Flash.ini beside the program's bin folder, then the install prefix's).
QStringList flashIniPlaces();

// --flash-ini FILE when given (it must be a file), else the first place that holds a file.
FlashIniChoice findFlashIni(const QString &option);

} // namespace zq::cli
