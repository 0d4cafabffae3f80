#pragma once

#include <QString>
#include <QStringList>

namespace zq::cli
{

struct BoardChoice {
    QString path;  // the programmer to use
    QString error; // not empty when there is none to use: none found, not found, or several
};

// Picks the programmer among those found: the one asked for with --device, else the only one.
// With several and none asked for, nothing is guessed; the error lists them.
BoardChoice chooseBoard(const QStringList &found, const QString &wanted);

} // namespace zq::cli
