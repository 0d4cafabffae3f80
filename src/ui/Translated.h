#pragma once

#include <QCoreApplication>

namespace zq
{

// The window's texts all belong to the translation context "MainWindow", whichever class of the
// ui layer asks for them.
inline QString translated(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace zq
