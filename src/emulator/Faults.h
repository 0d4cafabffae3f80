#pragma once

#include "emulator/Frames.h"

#include <mutex>
#include <utility>
#include <vector>

class QString;

namespace zq::emu
{

enum class FaultKind {
    NoReply,        // the frame is carried out, its replies never come
    LateReply,      // the replies come delayMs late
    WrongLength,    // the final reply loses its last byte
    WrongMarker,    // the final reply's byte 2 is one too high (CRC still right)
    BadReplyCrc,    // the final reply's CRC does not match its bytes
    FailingStatus,  // the final reply reports failure (CRC still right)
    BoardGone,      // the board drops off the bus instead of taking the frame
    Latency,        // every reply packet of the frame takes delayMs more
    HeldFrame,      // the board holds the frame's OUT transfer delayMs before it takes it; a host
                    // that aborts the transfer meanwhile ends it, and the frame never arrives
    HeldFrameTaken, // as HeldFrame, but the host's abort comes too late: the board takes the
                    // frame after delayMs all the same and answers it
};

// One fault switch: what goes wrong, on which frame, and for which command letter.
// Fault::nth(FaultKind::NoReply, 3).onCommand('H') loses the reply of the third 'H' from now.
struct Fault {
    FaultKind kind = FaultKind::NoReply;
    int countdown = 1;      // fires on the countdown-th matching frame from now
    bool repeating = false; // fires on every matching frame until disarmed
    char command = 0;       // 0 matches every command letter
    int delayMs = 0;        // LateReply and Latency

    static Fault next(FaultKind kind) { return nth(kind, 1); }
    static Fault nth(FaultKind kind, int frame);
    static Fault every(FaultKind kind);
    static Fault latency(int ms) { return every(FaultKind::Latency).withDelay(ms); }

    Fault onCommand(char letter) const;
    Fault withDelay(int ms) const;
};

// What the switches that fired do to one frame.
struct FrameFaults {
    bool noReply = false;
    bool wrongLength = false;
    bool wrongMarker = false;
    bool badCrc = false;
    bool failingStatus = false;
    bool boardGone = false;
    int lateMs = 0;
    int latencyMs = 0;
    int holdMs = 0;
    bool holdIgnoresAbort = false;

    // Drops or damages the frame's replies; timing is the link's business.
    void damage(std::vector<Packet> &replies) const;
};

// The board's fault switches. Armed from a test or bench thread while the host talks to the
// board from its worker, so every call is thread-safe.
class Faults
{
public:
    int arm(const Fault &fault); // returns an id for disarm
    void disarm(int id);
    void clear();
    int armedCount() const;

    // Counts one written frame against every armed switch whose letter it has. Every frame
    // counts, well formed or not: the switches act on the pipe, not on the command.
    FrameFaults onFrame(char command);

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<int, Fault>> armed_;
    int nextId_ = 1;
};

// faults.ini in an emulated board's state folder arms its fault switches for one run, so that a
// line script can rehearse a failing board. One switch a line:
//   KIND COMMAND FRAME [MS]
// KIND: no-reply, late-reply, wrong-length, wrong-marker, bad-reply-crc, failing-status,
// board-gone, latency, held-frame, held-frame-taken; COMMAND: the command letter, or * for
// every command; FRAME: the n-th matching frame from the start, or "every"; MS: the delay of
// late-reply, latency and the held frames. Blank lines and lines starting with # are skipped.
// The file is only read; a missing one arms nothing. Returns false with the line's number and
// text when one does not parse (nothing is armed then).
bool armFaultsFile(const QString &path, Faults &faults, QString *error);

} // namespace zq::emu
