#pragma once

#include "cli/Options.h"
#include "cli/Output.h"

#include <QString>

namespace zq::cli
{

// What zqprog learned of an operation's FILE before it opened any programmer.
struct FileCheck {
    QString error; // why the file is refused; empty when it may be used
    // "demo.hex: Intel HEX, 6000 bytes from 0x08000000, CRC 0x1A2B3C4D"
    QString description;
    std::optional<ImageIdentity> image; // the same for a program
};

// A missing, unreadable or unsound file is refused before the board is touched, in zqprog's
// own words: the code commands read it as the operation will (raw, HEX, S-record or ELF), the
// updates as a raw image that must fit the programmer's own flash, and each update refuses a
// file named for the other (a .boot for update-app, a .app for update-boot), since nothing in
// the image itself tells them apart. Subcommands without a FILE pass.
FileCheck checkFile(const Options &options);

} // namespace zq::cli
