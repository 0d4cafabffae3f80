#pragma once

#include <QString>

namespace zq::emu
{
class Faults;
}

namespace zq::cli
{

// faults.ini in an emulated board's state folder arms the emulator's fault switches for one
// run, so that a line script can rehearse a failing board. One switch a line:
//   KIND COMMAND FRAME [MS]
// KIND: no-reply, late-reply, wrong-length, wrong-marker, bad-reply-crc, failing-status,
// board-gone, latency, held-frame, held-frame-taken; COMMAND: the command letter, or * for
// every command; FRAME: the n-th matching frame from the start, or "every"; MS: the delay of
// late-reply, latency and the held frames. Blank lines and lines starting with # are skipped.
// zqprog only reads the file. Returns false with the line's number and text when one does not
// parse (nothing is armed then).
bool armFaultsFile(const QString &path, emu::Faults &faults, QString *error);

} // namespace zq::cli
