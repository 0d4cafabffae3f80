// Start-up time: from launching the program to its window's first paint, on a real X server
// (run it under Xvfb). The program launches itself several times as `--window`: each child
// builds the window as zq-programmer does, shows it, and reports the time from its launch to
// the end of the first paint of the window.

#include "Figures.h"

#include "ui/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <vector>

using namespace zq::bench;

namespace
{

constexpr int kLaunches = 7;
constexpr const char *kLaunchVariable = "ZQ_BENCH_LAUNCH_NS";

qint64 monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Notes the first paint of the window; once that paint and its flush to the screen are done
// the event loop comes round to the queued report.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(qint64 launchedAt) : launchedAt_(launchedAt) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, this, [this] {
                const double ms = double(monotonicNanoseconds() - launchedAt_) / 1e6;
                std::printf("startup_ms=%.2f\n", ms);
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    qint64 launchedAt_;
    bool seen_ = false;
};

int runWindow(int argc, char **argv)
{
    const qint64 launchedAt = qEnvironmentVariable(kLaunchVariable).toLongLong();
    QApplication application(argc, argv);
    MainWindow window;
    FirstPaint firstPaint(launchedAt);
    window.installEventFilter(&firstPaint);
    window.show();
    QTimer::singleShot(10000, &application, [] { QCoreApplication::exit(1); });
    return application.exec();
}

// One launch of the window; its start-up time in ms, or -1.
double launchOnce(const QString &program, const QString &folder)
{
    QProcess child;
    child.setProgram(program);
    child.setArguments({QStringLiteral("--window")});
    child.setWorkingDirectory(folder);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kLaunchVariable),
                       QString::number(monotonicNanoseconds()));
    child.setProcessEnvironment(environment);
    child.start();
    if (!child.waitForFinished(20000) || child.exitCode() != 0)
        return -1;
    const QString output = QString::fromLatin1(child.readAllStandardOutput()).trimmed();
    const QString prefix = QStringLiteral("startup_ms=");
    for (const QString &line : output.split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).toDouble();
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--window") == 0)
        return runWindow(argc, argv);

    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_startup: no X display; run it under Xvfb (tools/bench.sh "
                             "does)\n");
        return 1;
    }
    QTemporaryDir folder;
    std::vector<double> times;
    double first = -1;
    int failed = 0;
    for (int launch = 0; launch < kLaunches; ++launch) {
        const double ms = launchOnce(QCoreApplication::applicationFilePath(), folder.path());
        if (ms < 0) {
            // Counted and reported; the figures come from the launches that painted.
            std::fprintf(stderr, "bench_startup: launch %d did not paint its window\n", launch);
            ++failed;
            continue;
        }
        if (first < 0)
            first = ms;
        times.push_back(ms);
    }
    printFigure("startup_failed_launches", failed, 0);
    if (times.empty())
        return 1;
    printFigure("startup_first_ms", first);
    printFigure("startup_ms", median(times));
    printFigure("startup_max_ms", percentile(times, 1.0));
    return 0;
}
