// Throughput of a 1 MiB program run and a 1 MiB download: through the in-process emulator,
// through the real libusb path against an emulated kernel (umockdev), and, as the yardstick, a
// bare libusb loop of the same frames and replies on the same emulated device; the libusb figures
// also with every core busy with other work (the "_loaded" figures).

#include "BareLibusbLoop.h"
#include "BenchBoard.h"
#include "BenchImage.h"
#include "Figures.h"
#include "MachineLoad.h"
#include "MockUsbBus.h"
#include "OperationTiming.h"
#include "ProgrammerRig.h"
#include "ThreadNamed.h"

#include "emulator/EmulatedBus.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace zq::bench;

namespace
{

constexpr int kImageSize = 1 << 20;
constexpr int kRuns = 9;
// Beside busy processes a run's rate depends much on which cores the scheduler gives the
// threads, so the loaded figures take more runs.
constexpr int kLoadedRuns = 21;
constexpr int kMessageBlockSize = 512;
constexpr uint32_t kCodeFlashAddress = 0x10000;

// Median rate of several runs in MB/s; 0 when any run failed.
class RateSamples
{
public:
    void add(bool ok, double seconds)
    {
        ok_ = ok_ && ok;
        rates_.push_back(megabytesPerSecond(kImageSize, seconds));
    }
    void add(const TimedRun &run) { add(run.ok, run.seconds); }
    double last() const { return rates_.empty() ? 0.0 : rates_.back(); }
    double median() const { return ok_ ? zq::bench::median(rates_) : 0.0; }
    // The median of run-by-run ratios to the yardstick's runs taken beside them: a slow spell of
    // the machine then falls on both sides of one ratio instead of on one side of the medians.
    double medianRatio(const RateSamples &yardstick) const
    {
        if (!ok_ || !yardstick.ok_ || rates_.size() != yardstick.rates_.size())
            return 0.0;
        std::vector<double> ratios;
        for (size_t i = 0; i < rates_.size(); ++i)
            ratios.push_back(yardstick.rates_[i] > 0.0 ? rates_[i] / yardstick.rates_[i] : 0.0);
        return zq::bench::median(ratios);
    }

private:
    bool ok_ = true;
    std::vector<double> rates_;
};

// The frames each operation sends in its timed part, in its order, so that the yardstick does
// the same exchanges (the board's CRC checks over the whole image included).
std::vector<Frame> programSequence()
{
    std::vector<Frame> frames{swdFrame(SwdStep::Init)};
    for (Frame &block : blockFrames('F', 0, kImageSize))
        frames.push_back(std::move(block));
    frames.push_back(checkFrame('G', 0, kImageSize));
    frames.push_back(swdFrame(SwdStep::Run));
    return frames;
}

std::vector<Frame> downloadSequence()
{
    std::vector<Frame> frames = blockFrames('H', kCodeFlashAddress, kImageSize);
    frames.push_back(checkFrame('I', kCodeFlashAddress, kImageSize));
    frames.push_back(blockFrame('H', 0, kMessageBlockSize));
    frames.push_back(checkFrame('I', 0, kMessageBlockSize));
    return frames;
}

// Opens the programmer at path on a fresh rig and hands the rig to use; false when it would not
// open.
bool withOpenProgrammer(const std::function<std::shared_ptr<zq::usb::UsbTransport>()> &transport,
                        const QString &path, const std::function<void(ProgrammerRig &)> &use)
{
    ProgrammerRig rig(transport());
    rig.ui.mcuType = benchMcuTypeIndex();
    if (zq::ops::openProgrammer(rig.session, path) != 0) {
        std::fprintf(stderr, "bench_throughput: cannot open %s\n", qPrintable(path));
        return false;
    }
    use(rig);
    return true;
}

void measureEmulator(const QByteArray &image)
{
    zq::emu::EmulatedBus &bus = zq::emu::EmulatedBus::instance();
    const QString path = bus.plug(benchBoard());
    RateSamples program;
    RateSamples download;
    withOpenProgrammer(zq::usb::makeEmulatedTransport, path, [&](ProgrammerRig &rig) {
        for (int run = 0; run < kRuns; ++run) {
            program.add(timeProgramRun(rig, image));
            download.add(timeDownload(rig, image));
        }
    });
    bus.unplug(path);
    printFigure("emulated_program_mbps", program.median());
    printFigure("emulated_download_mbps", download.median());
}

// CPU time of the whole process so far, every thread (the emulated kernel's too), in ms.
double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) {
        return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// One operation's runs beside the yardstick's and beside a repeat of the yardstick, which tells
// how far two runs of the very same loop differ on this machine now: a ratio is only as good as
// that.
struct Comparison {
    RateSamples bare;
    RateSamples bareAgain;
    RateSamples ours;
};

BareRun timedBareRun(int address, const std::vector<Frame> &frames, RateSamples &samples)
{
    MockUsbBus::serveBeside(int(gettid())); // the bare loop makes its calls itself
    const BareRun run = runBareLibusbLoop(address, {}, frames);
    samples.add(run.ok, run.seconds);
    return run;
}

void printComparison(const std::string &operation, const Comparison &runs,
                     const std::string &suffix)
{
    printFigure("bare_libusb_" + operation + "_mbps" + suffix, runs.bare.median());
    printFigure("libusb_" + operation + "_mbps" + suffix, runs.ours.median());
    printFigure("libusb_" + operation + "_vs_bare" + suffix, runs.ours.medianRatio(runs.bare), 3);
    printFigure("bare_again_" + operation + "_vs_bare" + suffix,
                runs.bareAgain.medianRatio(runs.bare), 3);
}

// suffix names the figures of a run under load ("_loaded"). ZQ_BENCH_RUNS in the environment
// shows each run's rates on stderr.
void measureLibusb(const QByteArray &image, const std::string &suffix, int runs)
{
    MockUsbBus bus;
    const int address = bus.plugProgrammer(benchBoard());
    const QString path = libusbPathAt(address);
    const std::vector<Frame> programFrames = programSequence();
    const std::vector<Frame> downloadFrames = downloadSequence();
    const bool showRuns = !qEnvironmentVariableIsEmpty("ZQ_BENCH_RUNS");
    Comparison program;
    Comparison download;
    double bareProgramCpuMs = 0;
    double programCpuMs = 0;
    // Runs of the two take turns, so that a slow spell of the machine falls on both.
    for (int run = 0; run < runs; ++run) {
        const double bareStart = processCpuMs();
        timedBareRun(address, programFrames, program.bare);
        bareProgramCpuMs += processCpuMs() - bareStart;
        timedBareRun(address, downloadFrames, download.bare);
        const bool opened =
            withOpenProgrammer(zq::usb::makeLibusbTransport, path, [&](ProgrammerRig &rig) {
                MockUsbBus::serveBeside(threadNamed("USB_BURN_CTRL"));
                const double programStart = processCpuMs();
                program.ours.add(timeProgramRun(rig, image));
                programCpuMs += processCpuMs() - programStart;
                download.ours.add(timeDownload(rig, image));
            });
        if (!opened) {
            program.ours.add(false, 0);
            download.ours.add(false, 0);
        }
        timedBareRun(address, programFrames, program.bareAgain);
        timedBareRun(address, downloadFrames, download.bareAgain);
        if (showRuns)
            std::fprintf(stderr, "run %d%s: program %.2f / bare %.2f, download %.2f / bare %.2f\n",
                         run, suffix.c_str(), program.ours.last(), program.bare.last(),
                         download.ours.last(), download.bare.last());
    }
    printComparison("program", program, suffix);
    printComparison("download", download, suffix);
    printFigure(
        "libusb_vs_bare" + suffix,
        std::min(program.ours.medianRatio(program.bare), download.ours.medianRatio(download.bare)),
        3);
    // What an exchange costs the machine: a busy machine shares its cores by CPU time, so a path
    // that needs more of it per image falls behind there first.
    printFigure("bare_libusb_program_cpu_ms" + suffix, bareProgramCpuMs / runs, 0);
    printFigure("libusb_program_cpu_ms" + suffix, programCpuMs / runs, 0);
}

} // namespace

int main(int argc, char **argv)
{
    const bool preloaded = MockUsbBus::ensurePreloaded(argv);
    // Every emulated usbdevfs call sleeps once in umockdev's preload; the default timer slack
    // would make that sleep, not the program, the cost being measured.
    prctl(PR_SET_TIMERSLACK, 1UL);
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    const QByteArray image = benchCodeImage(kImageSize);
    // "emulated" or "libusb" runs only that half (to look at one of them again and again);
    // "loaded" only the libusb runs beside busy processes.
    const QStringList only = application.arguments().mid(1);
    printFigure("image_bytes", kImageSize, 0);
    if (only.isEmpty() || only.contains(QStringLiteral("emulated")))
        measureEmulator(image);
    const bool loadedOnly = only.contains(QStringLiteral("loaded"));
    if (!only.isEmpty() && !only.contains(QStringLiteral("libusb")) && !loadedOnly)
        return 0;
    if (!preloaded) {
        std::fprintf(stderr, "bench_throughput: libumockdev-preload.so.0 not found; the libusb "
                             "figures are left out (tools/install-deps.sh usbemu)\n");
        return 0;
    }
    if (!loadedOnly)
        measureLibusb(image, "", kRuns);
    // The same beside one busy process per core: the program's threads must not lose their
    // turns where a bare loop that blocks in the kernel keeps them.
    MachineLoad load;
    printFigure("load_processes", load.processes(), 0);
    measureLibusb(image, "_loaded", kLoadedRuns);
    return 0;
}
