#pragma once

// The subcommands on one programmer: the file and Flash.ini looked for before a board is opened,
// the refusals the window's buttons would make, the operation itself, its report, and the wait
// for a board that restarts after an update. What each subcommand is comes from its row
// (SubcommandTable.h).

#include "cli/CommandLine.h"
#include "cli/Output.h"
#include "operations/ImageFile.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace zq::ops
{
struct ProgrammerState;
}
namespace zq::usb
{
class UsbTransport;
}

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

// What zqprog learned of an operation's FILE before it opened any programmer.
struct FileCheck {
    QString error; // why the file is refused; empty when it may be used
    // "demo.hex: Intel HEX, 6000 bytes from 0x08000000, CRC 0x1A2B3C4D"
    QString description;
    std::optional<ImageIdentity> image; // the same for a program
    ops::LoadedImage loaded;            // the bytes read: the operation sends these
};

// A missing, unreadable or unsound file is refused before the board is touched, in zqprog's
// own words: the code commands read it as the operation will (raw, HEX, S-record or ELF), the
// updates as a raw image that must fit the programmer's own flash, and each update refuses a
// file named for the other (a .boot for update-app, a .app for update-boot), since nothing in
// the image itself tells them apart. Subcommands without a FILE pass.
FileCheck checkFile(const Options &options);

// What info shows: the identity the connect read, in the order of the window's fields, as
// lines for a reader and as fields of the JSON result.
void reportIdentity(const QString &path, const ops::ProgrammerState &state,
                    SubcommandResult &result);

// list: every programmer found, and whether it can be opened.
SubcommandResult runList(const std::shared_ptr<usb::UsbTransport> &transport);

// info and the operations: choose the programmer, open and identify it, refuse what its mode
// does not allow, run the operation and, after an update, wait for the programmer to return.
// before, when given, runs once the board has identified itself and may refuse the operation
// (false, with the result's exit code and error set) or change the image it sends.
using BeforeOperation = std::function<bool(SubcommandResult &result, ops::LoadedImage &image)>;
SubcommandResult runOnProgrammer(const Options &options, Output &output,
                                 const std::shared_ptr<usb::UsbTransport> &transport,
                                 const BeforeOperation &before = {});

} // namespace zq::cli
