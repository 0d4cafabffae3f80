#pragma once

#include <QCoreApplication>

namespace zq
{

// The window's texts all belong to the translation context "MainWindow". MainWindow::tr would
// use "zq::MainWindow", its full class name, and miss a translator made for the window.
inline QString translated(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace zq
