#pragma once

#include <QStringList>

namespace zq::cli
{

// One run of zqprog with the arguments after the program's name; returns the exit status.
// Needs a QCoreApplication: the operations let its event loop run while they wait.
int runZqprog(const QStringList &arguments);

} // namespace zq::cli
