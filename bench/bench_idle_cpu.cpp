// CPU use of the program while a board is open and nothing happens: the window with an open
// programmer, left alone for 10 s, over the in-process emulator and over the real libusb path
// against an emulated kernel (umockdev). The figure is the whole process's CPU time over the
// wall time, in percent of one core; the emulated kernel's own thread is part of the process.

#include "BenchBoard.h"
#include "Figures.h"
#include "MockUsbBus.h"
#include "WindowDriving.h"

#include "emulator/EmulatedBus.h"
#include "ui/MainWindow.h"
#include "usb/UsbTransport.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include <sys/resource.h>

using namespace zq::bench;

namespace
{

constexpr int kIdleMs = 10000;
// Lets what the open started settle before measuring.
constexpr int kSettleMs = 300;

// User and system time of every thread of the process, to the microsecond.
double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Percent of one core the process used while the event loop ran undisturbed for kIdleMs.
double idleCpuPercent()
{
    runEventLoopFor(kSettleMs);
    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    runEventLoopFor(kIdleMs);
    const double cpu = processCpuSeconds() - cpuBefore;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    return 100.0 * cpu / wall;
}

// -1 when the programmer would not open.
double measureWindow(std::shared_ptr<zq::usb::UsbTransport> transport, const QString &path)
{
    MainWindow window(std::move(transport));
    window.show();
    if (!openListedProgrammer(window, path)) {
        std::fprintf(stderr, "bench_idle_cpu: cannot open %s\n", qPrintable(path));
        return -1;
    }
    return idleCpuPercent();
}

} // namespace

int main(int argc, char **argv)
{
    // The timer slack stays the default, as in the program itself: it decides how an idle
    // thread's sleeps are coalesced.
    const bool preloaded = MockUsbBus::ensurePreloaded(argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());

    {
        MainWindow window(zq::usb::makeEmulatedTransport());
        window.show();
        printFigure("idle_cpu_percent_no_board", idleCpuPercent());
    }
    zq::emu::EmulatedBus &bus = zq::emu::EmulatedBus::instance();
    const QString path = bus.plug(benchBoard());
    const double emulated = measureWindow(zq::usb::makeEmulatedTransport(), path);
    bus.unplug(path);
    printFigure("idle_cpu_percent_emulated", emulated);
    double worst = emulated;

    if (preloaded) {
        MockUsbBus usb;
        const int address = usb.plugProgrammer(benchBoard());
        const double libusb = measureWindow(zq::usb::makeLibusbTransport(), libusbPathAt(address));
        printFigure("idle_cpu_percent_libusb", libusb);
        worst = worst < 0 || libusb < 0 ? -1 : std::max(worst, libusb);
    } else {
        std::fprintf(stderr, "bench_idle_cpu: libumockdev-preload.so.0 not found; the libusb "
                             "figure is left out (tools/install-deps.sh usbemu)\n");
    }
    // The worst case of the program with a board open.
    printFigure("idle_cpu_percent", worst);
    return 0;
}
