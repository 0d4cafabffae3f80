// gang_speedup_4: one image downloaded to four emulated boards at once (zqprog --all) against
// the same download to one board. Each board takes a board-like time for every 4 KiB block it
// writes (board.ini's block_write_ms), so the figure shows how far the boards' own time overlaps
// when zqprog drives them in parallel; the goal is 3.5 or more.
// serial_gang_speedup_4: the same for a job with serial numbers that programs the targets
// (zqprog run --all), each unit reserving its number in one SQLite store and recording itself:
// the store's work must not serialise the gang; the goal is 3.5 or more.

#include "Figures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace
{

constexpr int kBoards = 4;
constexpr int kBlockWriteMs = 5;
constexpr int kImageBytes = 2 << 20; // 512 blocks: about 2.6 s of the boards' own time
constexpr int kRounds = 3; // the best of each: other work on the machine only ever slows a run

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// A raw image whose entry address lies in the target's flash.
QByteArray codeImage()
{
    QByteArray image(kImageBytes, '\0');
    QRandomGenerator random(7);
    for (char &byte : image)
        byte = char(random.bounded(256));
    const char entry[4] = {0x01, 0x01, 0x00, 0x08};
    image.replace(4, 4, entry, 4);
    return image;
}

// Seconds one zqprog run took; negative when it failed.
double timedRun(const QString &folder, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(ZQPROG_PATH), arguments);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "bench_gang: zqprog %s failed: %s\n", qPrintable(arguments.join(' ')),
                     process.readAllStandardOutput().constData());
        return -1.0;
    }
    return double(clock.nsecsElapsed()) / 1e9;
}

// The best of each over kRounds, one board and then all of them taking turns; false when a run
// failed.
bool bestTimes(const QString &folder, const QStringList &arguments, const QStringList &boards,
               double &one, double &all)
{
    for (int round = 0; round < kRounds; ++round) {
        const double single = timedRun(folder, arguments + boards.mid(0, 1));
        const double gang = timedRun(folder, arguments + boards + QStringList{"--all"});
        if (single < 0 || gang < 0)
            return false;
        one = std::min(one, single);
        all = std::min(all, gang);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir work;
    const QDir dir(work.path());
    QFile::copy(QStringLiteral(ZQ_SAMPLE_FLASH_INI), dir.filePath(QStringLiteral("Flash.ini")));
    writeFile(dir.filePath(QStringLiteral("image.bin")), codeImage());
    QStringList boards;
    for (int k = 1; k <= kBoards; ++k) {
        const QString folder = dir.filePath(QStringLiteral("board%1").arg(k));
        dir.mkpath(folder);
        writeFile(folder + QStringLiteral("/board.ini"),
                  QStringLiteral("board_id=0x%1\nblock_write_ms=%2\ntarget_flash_size=%3\n")
                      .arg(0x12344 + k, 8, 16, QLatin1Char('0'))
                      .arg(kBlockWriteMs)
                      .arg(kImageBytes)
                      .toUtf8());
        boards << QStringLiteral("--emulated=") + folder;
    }
    const QStringList download{QStringLiteral("download"), QStringLiteral("image.bin"),
                               QStringLiteral("--mcu"), QStringLiteral("ZQ318"),
                               QStringLiteral("--no-progress")};
    double one = 1e9;
    double four = 1e9;
    if (!bestTimes(work.path(), download, boards, one, four))
        return 1;
    const QStringList job{QStringLiteral("run"), QStringLiteral("line.zqjob"),
                          QStringLiteral("--no-progress"), QStringLiteral("--records"),
                          dir.filePath(QStringLiteral("records.sqlite"))};
    if (timedRun(work.path(), {"job", "create", "--image", "image.bin", "--name", "bench",
                               "--serial-address", "0x100", "-o", "line.zqjob"}) < 0)
        return 1;
    double serialOne = 1e9;
    double serialFour = 1e9;
    if (!bestTimes(work.path(), job, boards, serialOne, serialFour))
        return 1;
    zq::bench::printFigure("gang_block_write_ms", kBlockWriteMs, 0);
    zq::bench::printFigure("gang_image_mib", double(kImageBytes) / zq::bench::kMiB, 0);
    zq::bench::printFigure("gang_one_board_s", one);
    zq::bench::printFigure("gang_four_boards_s", four);
    zq::bench::printFigure("gang_speedup_4", kBoards * one / four);
    zq::bench::printFigure("serial_gang_one_board_s", serialOne);
    zq::bench::printFigure("serial_gang_four_boards_s", serialFour);
    zq::bench::printFigure("serial_gang_speedup_4", kBoards * serialOne / serialFour);
    return 0;
}
