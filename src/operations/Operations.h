#pragma once

// The user-level procedures. Each is started by one button of the window (or one subcommand of
// zqprog), runs on the front end's thread and reports only through session.frontEnd.

#include "usb/UsbTransport.h"
#include <QByteArray>

#include <QString>

#include <cstdint>

namespace zq
{
class FrontEnd;
}

namespace zq::protocol
{
enum class ConnectionMode : int;
}

namespace zq::ops
{

struct Session;

// What an operation returns when it stopped before it sent anything; the reason has been shown
// or logged. Far from the procedures' own small codes, so a caller can tell them apart.
constexpr int kProgrammerNotOpen = -100; // not open, or it could not be opened
constexpr int kInputRefused = -101;      // no file, unreadable file, bad entry address, wrong type

// The operations started by a button return 0 on success, else the failed step's code: the
// procedure's code below, a command's result (protocol::Result), or one of the two codes above.
// The window ignores it (the log tells the user); zqprog turns it into its exit status. The
// values show in log lines ("Program target is fail.....-7") and never change.
namespace connection
{
enum Code : int {
    IllegalConnection = -5, // the connect reply names no known mode
};
}
namespace download
{
enum Code : int {
    ShortImage = -1,     // fewer than 8 bytes, nothing sent
    BeyondFlash = -2,    // does not fit the flash from the code address to its end, nothing sent
    WriteFailed = -3,    // a block or the message block failed
    ProgrammerLost = -4, // the programmer was lost after a block
    CheckFailed = -5,    // the programmer's check of the image failed
};
}
namespace flashCheck
{
enum Code : int {
    ShortImage = -1, // fewer than 8 bytes, nothing sent; else the programmer's status
};
}
namespace program
{
enum Code : int {
    ShortImage = -1,
    BlockFailed = -3,
    LostAfterBlock = -4,
    LastBlockFailed = -5,
    LostAtEnd = -6,
    CrcDiffers = -7,     // the target's CRC differs from the image's
    UnknownTarget = -10, // the init reported a target of no known type
    InitOrRunFailed = 10,
};
}
namespace update
{
enum Code : int {
    ShortImage = -1,
    TooLarge = -2,       // larger than the programmer's own flash
    BlockFailed = -3,    // a full block failed
    LostAfterBlock = -4, // the programmer was lost after a full block, or the last block failed
    LostAtEnd = -5,      // the programmer was lost after the last block
    CrcDiffers = -6,     // the programmer's CRC differs from the image's
};
}

// Opening and identifying the programmer. Not 0: the open failed, or connectProgrammer's result.
int openProgrammer(Session &session, const QString &path); // "Open programmer"
int connectProgrammer(Session &session);
// True when Flash.ini lists the flash; shows what it lists.
bool lookupFlash(Session &session, uint32_t flashId);
// One line that names why a device could not be opened and what to do; empty when there is
// nothing useful to say.
QString openFailureAdvice(usb::OpenError error);
// A few words for the same ("no permission", "busy, in use by another program", "gone"), for
// zqprog's board list and messages; "cannot be opened" when there is no better reason.
QString openErrorWords(usb::OpenError error);

// The texts of a connection mode: the log line after a connect ("Connection for normal work"),
// the words for messages ("normal work") and zqprog's JSON key ("normal").
QString connectionModeLine(protocol::ConnectionMode mode);
QString connectionModeWords(protocol::ConnectionMode mode);
QString connectionModeKey(protocol::ConnectionMode mode);

// Device events: the handling shared by every platform's hot-plug news.
void deviceArrived(Session &session, const QString &name);
void deviceRemoved(Session &session, const QString &name);
// Closes the device and waits until the worker has left its loop.
void stopProgrammer(Session &session);

// The MCU code file.
void inputMcuCode(Session &session); // "Input File"
// Entry-address word of an image (bytes 4..7, little-endian; missing bytes read as zero).
uint32_t entryAddress(const uint8_t *image, int32_t length);
// True when the entry address is not acceptable.
bool runningAddressCheck(const uint8_t *image, int32_t length);

// Download to the programmer's SPI flash, and its check.
// "Download to programmer": a download code (ShortImage, BeyondFlash: nothing sent) or
// downloadImage's.
int downloadToProgrammer(Session &session);
// "Check SpiFlash CRC": the programmer's status, or flashCheck::ShortImage (nothing sent).
int checkSpiFlash(Session &session);
// Writes the image to the code address in 4096-byte blocks, has the programmer check it, then
// writes and checks the message block. 0, or WriteFailed, ProgrammerLost, CheckFailed.
int downloadImage(Session &session, const QByteArray &mcuCodeBuffer);

// Program and verify the target over SWD.
int programTargetOperation(Session &session); // "Program": programTarget's code
// "Verify": 0, or programTarget's code for the first step that failed (InitOrRunFailed,
// CrcDiffers), or ShortImage (nothing sent).
int verifyTarget(Session &session);
// Init, write in 4096-byte blocks, check, run: 0 or a program code.
int programTarget(Session &session, const QByteArray &mcuCodeBuffer);

// The programmer's own firmware and boot loader. Its MCU is of the family whose flash the
// running-address check knows, 0x08000000 to 0x080FFFFF: 1 MiB at most, boot loader and
// application together, so no image larger than that can be one of them.
constexpr int32_t kProgrammerFlashSize = int32_t(1) << 20;
// "The image is 2000000 bytes; the programmer's own flash holds at most 1048576 bytes"
QString oversizedUpdateText(int32_t length);
// Shows that text when the image is too large for the programmer's flash; true then.
bool refuseOversizedUpdate(FrontEnd &frontEnd, int32_t length);
int updateFirmware(Session &session); // "Firmware update": updateEmbeddedFlash's code
int updateBoot(Session &session);     // "Boot update": likewise
// Writes the image into the programmer's embedded flash, checks it and switches the programmer's
// resident program: 0 or an update code.
int updateEmbeddedFlash(Session &session, const QByteArray &updateBuffer);

// The hidden "Run Uart Application" button.
void runUartApplication(Session &session);

} // namespace zq::ops
