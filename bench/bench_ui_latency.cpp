// How late the window's event loop answers while the Program button runs a 1 MiB image, over the
// in-process emulator and over the real libusb path against an emulated kernel (umockdev): a
// timer due every 5 ms records how far past its time each firing came.
// The operation runs on the window's thread and lets the loop run between its waits, so these
// figures are what a user feels as lag (repaints, the progress bar, clicks) during a run. The
// "_loaded" figures come from the same run beside one busy process per core.

#include "BenchBoard.h"
#include "BenchImage.h"
#include "Figures.h"
#include "MachineLoad.h"
#include "MockUsbBus.h"
#include "WindowDriving.h"

#include "emulator/EmulatedBus.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"
#include "usb/UsbTransport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>

#include <sys/prctl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace zq::bench;

namespace
{

constexpr int kImageSize = 1 << 20;
constexpr int kTickMs = 5;
constexpr int kRuns = 5;

// Records, for each firing of a periodic timer, how much later than one interval after the
// previous firing it came.
class LatenessProbe
{
public:
    LatenessProbe()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        clock_.start();
        last_ = -1;
        timer_.start();
    }
    void stop() { timer_.stop(); }
    const std::vector<double> &lateness() const { return lateness_; }

private:
    void tick()
    {
        const qint64 now = clock_.nsecsElapsed();
        if (last_ >= 0)
            lateness_.push_back(std::max(0.0, double(now - last_) / 1e6 - kTickMs));
        last_ = now;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    std::vector<double> lateness_;
};

QString writeImageFile(const QString &folder)
{
    const QString path = folder + QStringLiteral("/bench-1MiB.bin");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(benchCodeImage(kImageSize));
    return path;
}

bool lastLogLineIs(const MainWindow &window, const QString &line)
{
    return window.form()->textEdit->toPlainText().endsWith(line);
}

struct Latency {
    bool ok = false;
    std::vector<double> lateness; // ms past the due time, every firing of every run
    double programSeconds = 0;    // median of the runs
};

// Opens the programmer at path in a window over transport and presses Program kRuns times with
// the image file, the probe running meanwhile.
Latency measureWindow(std::shared_ptr<zq::usb::UsbTransport> transport, const QString &path,
                      const QString &imagePath)
{
    Latency result;
    MainWindow window(std::move(transport));
    window.show();
    if (!openListedProgrammer(window, path)) {
        std::fprintf(stderr, "bench_ui_latency: cannot open %s\n", qPrintable(path));
        return result;
    }
    window.setCodePathText(imagePath);
    window.setMcuTypeIndex(benchMcuTypeIndex());
    LatenessProbe probe;
    std::vector<double> seconds;
    result.ok = true;
    for (int run = 0; run < kRuns; ++run) {
        runEventLoopFor(50);
        QElapsedTimer clock;
        probe.start();
        clock.start();
        window.form()->pushButton_UpdateTarget->click();
        seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
        probe.stop();
        result.ok =
            result.ok && lastLogLineIs(window, QStringLiteral("Program target is OK!!!!!!"));
    }
    if (!result.ok)
        std::fprintf(stderr, "bench_ui_latency: a program run failed\n");
    result.lateness = probe.lateness();
    result.programSeconds = median(seconds);
    return result;
}

void printLatency(const std::string &prefix, const Latency &latency)
{
    printFigure(prefix + "ticks", double(latency.lateness.size()), 0);
    printFigure(prefix + "p50_ms", percentile(latency.lateness, 0.50));
    printFigure(prefix + "p99_ms", percentile(latency.lateness, 0.99));
    printFigure(prefix + "max_ms", percentile(latency.lateness, 1.0));
}

} // namespace

int main(int argc, char **argv)
{
    const bool preloaded = MockUsbBus::ensurePreloaded(argv);
    // Every emulated usbdevfs call sleeps once in umockdev's preload; see bench_throughput.
    prctl(PR_SET_TIMERSLACK, 1UL);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    const QString imagePath = writeImageFile(folder.path());

    zq::emu::EmulatedBus &bus = zq::emu::EmulatedBus::instance();
    const QString path = bus.plug(benchBoard());
    const Latency emulated = measureWindow(zq::usb::makeEmulatedTransport(), path, imagePath);
    bus.unplug(path);
    printLatency("ui_latency_emulated_", emulated);
    printFigure("window_program_emulated_mbps",
                emulated.ok ? megabytesPerSecond(kImageSize, emulated.programSeconds) : 0.0);
    Latency all = emulated;

    if (preloaded) {
        MockUsbBus usb;
        const int address = usb.plugProgrammer(benchBoard());
        const Latency libusb =
            measureWindow(zq::usb::makeLibusbTransport(), libusbPathAt(address), imagePath);
        printLatency("ui_latency_libusb_", libusb);
        printFigure("window_program_libusb_mbps",
                    libusb.ok ? megabytesPerSecond(kImageSize, libusb.programSeconds) : 0.0);
        all.ok = all.ok && libusb.ok;
        all.lateness.insert(all.lateness.end(), libusb.lateness.begin(), libusb.lateness.end());
    } else {
        std::fprintf(stderr, "bench_ui_latency: libumockdev-preload.so.0 not found; the libusb "
                             "figures are left out (tools/install-deps.sh usbemu)\n");
    }
    // Both buses together.
    printLatency("ui_latency_", all);

    // The emulator's bus again, beside one busy process per core.
    {
        MachineLoad load;
        const QString loadedPath = bus.plug(benchBoard());
        const Latency loaded =
            measureWindow(zq::usb::makeEmulatedTransport(), loadedPath, imagePath);
        bus.unplug(loadedPath);
        printLatency("ui_latency_loaded_", loaded);
        all.ok = all.ok && loaded.ok;
    }
    return all.ok ? 0 : 1;
}
