#pragma once

#include <QJsonObject>
#include <QString>

namespace zq::cli
{

// The release ("1.20").
QString programVersion();
// What the build was made from: `git describe --always --dirty` when it was configured in a
// git checkout, otherwise the release. A log that names it says which code handled a board.
QString buildDescription();
// "zqprog 1.20 (build 4826b28-dirty)"
QString versionLine();
// The same for a program: {"kind":"version", ...}.
QJsonObject versionObject();

} // namespace zq::cli
