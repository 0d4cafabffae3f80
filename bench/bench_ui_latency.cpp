// How late the window's event loop answers while the Program button runs a 1 MiB image over the
// in-process emulator: a timer due every 5 ms records how far past its time each firing came.
// The operation runs on the window's thread and lets the loop run between its waits, so these
// figures are what a user feels as lag (repaints, the progress bar, clicks) during a run.

#include "BenchBoard.h"
#include "BenchImage.h"
#include "Figures.h"
#include "WindowDriving.h"

#include "EmulatedBus.h"
#include "MainWindow.h"
#include "MainWindowForm.h"
#include "UsbTransport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace zq::bench;

namespace
{

constexpr int kImageSize = 1 << 20;
constexpr int kTickMs = 5;
constexpr int kRuns = 3;

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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    const QString imagePath = writeImageFile(folder.path());

    zq::emu::EmulatedBus &bus = zq::emu::EmulatedBus::instance();
    const QString path = bus.plug(benchBoard());
    MainWindow window(zq::usb::makeEmulatedTransport());
    window.show();
    if (!openListedProgrammer(window, path)) {
        std::fprintf(stderr, "bench_ui_latency: cannot open %s\n", qPrintable(path));
        return 1;
    }
    window.setCodePathText(imagePath);
    window.setMcuTypeIndex(benchMcuTypeIndex());

    LatenessProbe probe;
    std::vector<double> seconds;
    bool ok = true;
    for (int run = 0; run < kRuns; ++run) {
        runEventLoopFor(50);
        QElapsedTimer clock;
        probe.start();
        clock.start();
        window.form()->pushButton_UpdateTarget->click();
        seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
        probe.stop();
        ok = ok && lastLogLineIs(window, QStringLiteral("Program target is OK!!!!!!"));
    }
    if (!ok)
        std::fprintf(stderr, "bench_ui_latency: a program run failed\n");
    const std::vector<double> &lateness = probe.lateness();
    printFigure("ui_ticks", double(lateness.size()), 0);
    printFigure("ui_latency_p50_ms", percentile(lateness, 0.50));
    printFigure("ui_latency_p99_ms", percentile(lateness, 0.99));
    printFigure("ui_latency_max_ms", percentile(lateness, 1.0));
    printFigure("window_program_mbps", ok ? megabytesPerSecond(kImageSize, median(seconds)) : 0.0);
    return ok ? 0 : 1;
}
