#pragma once

#include <QByteArray>

namespace zq::bench
{

struct ProgrammerRig;

// One timed operation: the seconds it took and whether it ended in success.
struct TimedRun {
    bool ok = false;
    double seconds = 0;
};

// The image goes into the state as if the user had chosen its file, so that the checks that end
// both operations compare against its CRC and length.
void takeCodeImage(ProgrammerRig &rig, const QByteArray &image);

// The operations behind the Program and Download buttons, from their first frame to their last
// check, on a rig whose programmer is open.
TimedRun timeProgramRun(ProgrammerRig &rig, const QByteArray &image);
TimedRun timeDownload(ProgrammerRig &rig, const QByteArray &image);

} // namespace zq::bench
