#pragma once

#include <QByteArray>

namespace zq::bench
{

struct ProgrammerRig;

// One timed operation: the seconds it took, the seconds of its block writes alone (between the
// log lines that open and close them; the checks and set-up around them are left out), and
// whether it ended in success.
struct TimedRun {
    bool ok = false;
    double seconds = 0;
    double blockSeconds = 0;
};

// The image goes into the state as if the user had chosen its file, so that the checks that end
// both operations compare against its CRC and length.
void takeCodeImage(ProgrammerRig &rig, const QByteArray &image);

// The operations behind the Program and Download buttons, from their first frame to their last
// check, on a rig whose programmer is open.
TimedRun timeProgramRun(ProgrammerRig &rig, const QByteArray &image);
TimedRun timeDownload(ProgrammerRig &rig, const QByteArray &image);

} // namespace zq::bench
