#pragma once

#include <QString>

namespace zq::demo
{

// The demo's working folder: the program reads and writes its files in the current directory,
// so the demo gets a folder of its own, with the sample catalogue and sample images in it.
QString defaultWorkFolder();

// Fills the folder with what is missing (Flash.ini, demo.bin, Firmware/demo.app,
// Bootware/demo.boot) and sets line 1 of its config.ini to UPBOOT:1, keeping the other lines, so
// that every button can be tried. What is there and no regular file (a FIFO, a device, a folder,
// or a link to one) is left as it is. False, with a reason, when the folder cannot be prepared.
bool prepareWorkFolder(const QString &folder, QString *error);

// Plugs the two demo boards into the emulated bus: one in normal work, one waiting for a new
// application, both with a flash the sample catalogue knows.
void plugDemoBoards();

} // namespace zq::demo
