#include "OperationTiming.h"

#include "common/Crc32.h"
#include "ProgrammerRig.h"

#include <chrono>
#include <functional>

namespace zq::bench
{
namespace
{

TimedRun timed(const BenchFrontEnd &ui, const QString &firstLine, const QString &lastLine,
               const std::function<int()> &operation)
{
    const auto start = std::chrono::steady_clock::now();
    const int result = operation();
    TimedRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.blockSeconds = double(ui.lastSeen(lastLine) - ui.lastSeen(firstLine)) / 1e9;
    run.ok = result == 0 && run.blockSeconds > 0;
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
    return timed(rig.ui, QStringLiteral("Start to program ..."), QStringLiteral("Program end!"),
                 [&] { return ops::programTarget(rig.session, image); });
}

TimedRun timeDownload(ProgrammerRig &rig, const QByteArray &image)
{
    takeCodeImage(rig, image);
    return timed(rig.ui, QStringLiteral("Start to download ..."), QStringLiteral("Download end!"),
                 [&] { return ops::downloadImage(rig.session, image); });
}

} // namespace zq::bench
