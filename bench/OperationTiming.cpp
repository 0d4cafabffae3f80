#include "OperationTiming.h"

#include "Crc32.h"
#include "ProgrammerRig.h"

#include <chrono>
#include <functional>

namespace zq::bench
{
namespace
{

TimedRun timed(const std::function<int()> &operation)
{
    const auto start = std::chrono::steady_clock::now();
    const int result = operation();
    TimedRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.ok = result == 0;
    return run;
}

} // namespace

void takeCodeImage(ProgrammerRig &rig, const QByteArray &image)
{
    ops::ProgrammerState &state = rig.session.state;
    state.mcuCodeLength = image.size();
    state.mcuCodeCrc =
        crc32(reinterpret_cast<const uint8_t *>(image.constData()), size_t(image.size()));
    state.mcuCodeRead = true;
}

TimedRun timeProgramRun(ProgrammerRig &rig, const QByteArray &image)
{
    takeCodeImage(rig, image);
    return timed([&] { return ops::programTarget(rig.session, image); });
}

TimedRun timeDownload(ProgrammerRig &rig, const QByteArray &image)
{
    takeCodeImage(rig, image);
    return timed([&] { return ops::downloadImage(rig.session, image); });
}

} // namespace zq::bench
