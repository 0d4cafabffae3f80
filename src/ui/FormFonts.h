#pragma once

#include <QFont>

namespace zq
{

// The four fonts of the main window's form. Everything is bold except the progress bar's text.
QFont windowFont();   // 微软雅黑 8, bold: the window and whatever sets no font of its own
QFont controlFont();  // Arial 9, bold: group boxes, most buttons and labels
QFont logFont();      // Arial 10, bold: the log panel
QFont progressFont(); // Arial 9, normal

} // namespace zq
