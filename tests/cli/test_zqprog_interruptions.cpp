// Ctrl-C and SIGTERM in the middle of an operation, and two runs on one emulated board: what
// the console, the log file and the board's state folder are left with.
#include "ZqprogRun.h"

#include <QtTest>

#include <algorithm>
#include <csignal>
#include <sys/types.h>

using namespace zq::test;

namespace
{

// 16 blocks, each reply slowed down, so a run lasts seconds and a signal meets it mid-way.
QByteArray slowImage(int blocks = 16)
{
    QByteArray image = WorkFolder::codeImage();
    return image + QByteArray(blocks * 4096 - image.size(), '\xA5');
}

void slowBoardDown(const WorkFolder &work)
{
    writeAll(work.board() + "/faults.ini", "latency * every 100\n");
}

// Two slow boards in the state folders "b1" and "b2", as --emulated options, for --all.
QStringList slowGang(const WorkFolder &work)
{
    QStringList boards;
    for (const QString name : {"b1", "b2"}) {
        QDir(work.folder.path()).mkpath(name);
        writeAll(work.path(name + "/faults.ini"), "latency * every 100\n");
        boards << "--emulated=" + work.path(name);
    }
    return boards;
}

// A process's state and parent, from /proc; nothing once it is gone.
QStringList stateAndParent(const QString &pid)
{
    const QString stat = QString::fromUtf8(readAll("/proc/" + pid + "/stat"));
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ', Qt::SkipEmptyParts).mid(0, 2);
}

QStringList childrenOf(qint64 parent)
{
    QStringList children;
    for (const QString &pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs))
        if (stateAndParent(pid).value(1) == QString::number(parent))
            children << pid;
    return children;
}

// Reaped, or a zombie left to a parent that does not reap (a container's first process).
bool allGone(const QStringList &pids)
{
    return std::all_of(pids.begin(), pids.end(),
                       [](const QString &pid) { return stateAndParent(pid).value(0, "Z") == "Z"; });
}

// A zqprog left running, with its stdout read as it comes.
class RunningZqprog
{
public:
    RunningZqprog(const WorkFolder &work, const QStringList &arguments)
    {
        process.setWorkingDirectory(work.folder.path());
        process.setProcessEnvironment(work.environment());
        process.start(QStringLiteral(ZQPROG_PATH), arguments);
    }
    ~RunningZqprog()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // Until a progress line shows blocks on their way (the write has begun).
    bool waitForProgress() { return waitFor(QRegularExpression("Progress: [1-9][0-9]?%")); }

    bool waitFor(const QRegularExpression &pattern)
    {
        QElapsedTimer clock;
        clock.start();
        while (!clock.hasExpired(30000)) {
            out += process.readAllStandardOutput();
            if (pattern.match(QString::fromUtf8(out)).hasMatch())
                return true;
            process.waitForReadyRead(100);
            if (process.state() == QProcess::NotRunning)
                return false;
        }
        return false;
    }

    void signal(int number) const { ::kill(pid_t(process.processId()), number); }

    ZqprogRun finish()
    {
        ZqprogRun run;
        if (!process.waitForFinished(60000))
            return run;
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        out += process.readAllStandardOutput();
        run.out = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    QProcess process;
    QByteArray out;
};

QStringList logFileTexts(const WorkFolder &work)
{
    QStringList texts;
    for (const QString &line :
         QString::fromUtf8(readAll(work.path("runs.log"))).split('\n', Qt::SkipEmptyParts))
        texts << line.section(' ', 3); // after the date, the time and the board's id
    return texts;
}

} // namespace

class ZqprogInterruptionsTest : public QObject
{
    Q_OBJECT
private slots:
    void aSignalStopsADownloadAndLeavesItsRecord_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("Ctrl-C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }

    void aSignalStopsADownloadAndLeavesItsRecord()
    {
        QFETCH(int, signalNumber);
        WorkFolder work;
        slowBoardDown(work);
        const QByteArray image = slowImage();
        writeAll(work.path("big.bin"), image);
        RunningZqprog running(
            work, {work.emulated(), "--log", "runs.log", "download", "big.bin", "--mcu", "ZQ318"});
        QVERIFY(running.waitForProgress());
        running.signal(signalNumber);
        const ZqprogRun run = running.finish();

        QCOMPARE(run.exitCode, 130);
        QCOMPARE(run.out.last(), QStringLiteral("interrupted"));
        QVERIFY(run.out.contains("Download to the programmer flash is fail....."));
        QVERIFY2(run.errLines().contains("zqprog: interrupted"), qPrintable(run.err));
        const QStringList texts = logFileTexts(work);
        QCOMPARE(texts.mid(texts.size() - 2, 1), QStringList{"interrupted"});
        QVERIFY2(texts.last().startsWith("zqprog: download ended, exit 130"),
                 qPrintable(texts.last()));

        // What reached the board before the signal is kept, and only that.
        const QByteArray flash = work.boardFile("spi-flash.bin");
        QVERIFY(flash.size() > 0x10000);
        QVERIFY2(flash.size() < 0x10000 + image.size(), qPrintable(QString::number(flash.size())));
        QCOMPARE(flash.mid(0x10000), image.left(flash.size() - 0x10000));
        // So the interruption can be rehearsed: the image is not there as a whole.
        QFile::remove(work.board() + "/faults.ini");
        QCOMPARE(work.run({work.emulated(), "check", "big.bin"}).exitCode, 1);
    }

    // With --all, a signal to zqprog reaches every board's zqprog: each stops after its frame in
    // flight, and the summary says so.
    void aSignalStopsEveryBoardOfAGang()
    {
        WorkFolder work;
        writeAll(work.path("big.bin"), slowImage());
        RunningZqprog running(
            work, slowGang(work) + QStringList{"download", "big.bin", "--mcu", "ZQ318", "--all"});
        QVERIFY(running.waitFor(QRegularExpression("\\[0x00012345\\] Start to download")));
        QVERIFY(running.waitFor(QRegularExpression("\\[0x00012346\\] Start to download")));
        running.signal(SIGINT);
        const ZqprogRun run = running.finish();
        QCOMPARE(run.exitCode, 130);
        for (const QString id : {"0x00012345", "0x00012346"}) {
            QVERIFY2(run.out.contains("[" + id + "] interrupted"), qPrintable(run.out.join('\n')));
            QVERIFY(!run.out.filter(QRegularExpression("^" + id + " +interrupted ")).isEmpty());
        }
    }

    // However the gang's zqprog ends, its boards' zqprogs stop after their frame in flight, keep
    // the board's state and close their records; nothing of their operations comes after.
    void aGangStopsWhenItsParentIsKilled()
    {
        WorkFolder work;
        const QByteArray image = slowImage(48); // seconds longer than the 2 s allowed to stop
        writeAll(work.path("big.bin"), image);
        RunningZqprog running(work, slowGang(work) + QStringList{"--all", "--json", "--log",
                                                                 "runs.log", "download", "big.bin",
                                                                 "--mcu", "ZQ318"});
        for (const char *board : {"74565", "74566"})
            QVERIFY(running.waitFor(QRegularExpression(
                QString("\"board\":") + board + ",\"kind\":\"progress\",\"percent\":[1-9]")));
        const QStringList children = childrenOf(running.process.processId());
        QCOMPARE(children.size(), 2);
        running.signal(SIGKILL);
        QElapsedTimer clock;
        clock.start();
        while (!allGone(children) && !clock.hasExpired(2000))
            QThread::msleep(20);
        QVERIFY(allGone(children));

        for (const QString name : {"b1", "b2"}) {
            const QByteArray flash = readAll(work.path(name + "/spi-flash.bin"));
            QVERIFY2(flash.size() > 0x10000 && flash.size() < 0x10000 + image.size(),
                     qPrintable(name));
            QCOMPARE(flash.mid(0x10000), image.left(flash.size() - 0x10000));
        }
        // Each board's last lines close its record, and none of its operation's come after.
        const QStringList log =
            QString::fromUtf8(readAll(work.path("runs.log"))).split('\n', Qt::SkipEmptyParts);
        const QStringList closing = log.mid(log.indexOf(QRegularExpression(".*\\] interrupted$")));
        QCOMPARE(closing.size(), 4);
        for (const QString id : {"0x00012345", "0x00012346"})
            QVERIFY(QRegularExpression("\\[" + id + "\\] interrupted\\|.*\\[" + id +
                                       "\\] zqprog: download ended, exit 130")
                        .match(closing.join('|'))
                        .hasMatch());
        QVERIFY(log.filter("Download to the programmer flash is").isEmpty());
    }

    void theFirstCtrlCDuringABootUpdateIsRefused()
    {
        WorkFolder work;
        slowBoardDown(work);
        RunningZqprog running(work,
                              {work.emulated(), "update-boot", "demo.boot", "--allow-boot-update"});
        QVERIFY(running.waitForProgress());
        running.signal(SIGINT);
        const ZqprogRun run = running.finish();
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains("the boot update goes on"), qPrintable(run.err));
        QCOMPARE(work.boardFile("boot.bin"), work.bootImage());
    }

    void aSecondRunOnTheSameBoardIsRefusedAsBusy()
    {
        WorkFolder work;
        slowBoardDown(work);
        writeAll(work.path("big.bin"), slowImage());
        RunningZqprog first(work, {work.emulated(), "program", "big.bin"});
        QVERIFY(first.waitForProgress());
        const ZqprogRun second = work.run({work.emulated(), "program", "demo.bin"});
        QCOMPARE(second.exitCode, 3);
        QVERIFY2(second.err.contains("busy, in use by another program"), qPrintable(second.err));
        QCOMPARE(second.out, QStringList());

        QCOMPARE(first.finish().exitCode, 0);
        QVERIFY(work.boardFile("target-flash.bin").startsWith(slowImage()));
        // The board is free again once the first run has gone.
        QCOMPARE(work.run({work.emulated(), "info"}).exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(ZqprogInterruptionsTest)
#include "test_zqprog_interruptions.moc"
