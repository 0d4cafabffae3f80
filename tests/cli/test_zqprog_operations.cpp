// zqprog run as a user runs it, against an emulated programmer whose state lives in a folder:
// each subcommand's log on stdout, its exit status, and what it left on the board.
#include "ZqprogRun.h"

#include <QRegularExpression>
#include <QtTest>

using namespace zq::test;

namespace
{

const QString kProblem = "There is a problem with the running address of this file!";
const QString kProblemLine = "***" + kProblem + "***";

QStringList programLog(const QByteArray &image)
{
    return openLog(kNormalWork) + QStringList{"Target init ok...",
                                              "Target type:0x5A3C3180",
                                              "Init ready...",
                                              "Timer:",
                                              "Start to program ...",
                                              "Program end!",
                                              "Timer:",
                                              "Read crc:" + crcText(image),
                                              "Check crc OK!",
                                              "Timer:",
                                              "Target run...",
                                              "",
                                              "Program target is OK!!!!!!"};
}

} // namespace

class ZqprogOperationsTest : public QObject
{
    Q_OBJECT
private slots:
    void infoLogsTheOpenAndSummarisesTheIdentity()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({work.emulated(), "info"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.log().mid(0, 7), openLog(kNormalWork));
        const QStringList summary = run.out.mid(7);
        QVERIFY(summary.contains("Mode:         normal work"));
        QVERIFY(summary.contains("Board ID:     0x00012345"));
        QVERIFY(summary.contains("Flash size:   16777216"));
        QVERIFY(summary.contains("Flash name:   W25Q128"));
        QCOMPARE(run.err, QString());
    }

    void programWritesTheTargetAndLogsAsTheWindow()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({"program", "demo.bin", work.emulated()});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.log(), programLog(work.codeImage()));
        // Not a terminal: plain percentage lines, the last one complete.
        QVERIFY(run.out.contains("Progress: 0%"));
        QVERIFY(run.out.contains("Progress: 100%"));
        QVERIFY(work.boardFile("target-flash.bin").startsWith(work.codeImage()));
    }

    void downloadIsCheckedByALaterRun()
    {
        WorkFolder work;
        const ZqprogRun download =
            work.run({work.emulated(), "download", "demo.bin", "--mcu", "ZQ318"});
        QCOMPARE(download.exitCode, 0);
        QCOMPARE(download.log().mid(7, 3),
                 QStringList({"Timer:", "Start to download ...", "Download end!"}));
        QCOMPARE(download.log().mid(download.log().size() - 2),
                 QStringList({"", "Download to the programmer flash is OK!!!!!!"}));

        const ZqprogRun check = work.run({work.emulated(), "check", "demo.bin"});
        QCOMPARE(check.exitCode, 0);
        QCOMPARE(check.log().mid(7),
                 QStringList({"", "", "Check CRC:" + crcText(work.codeImage()),
                              "Write spi flash OK!", "Check programmer flash CRC is OK..."}));
    }

    void checkOfAnEmptyFlashFailsWithTheProgrammersStatus()
    {
        WorkFolder work;
        const ZqprogRun check = work.run({work.emulated(), "--json", "check", "demo.bin"});
        QCOMPARE(check.exitCode, 1);
        const QList<QJsonObject> lines = jsonLines(check);
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.at(lines.size() - 2).value("text").toString(),
                 QStringLiteral("Check programmer flash CRC is NG..."));
        QCOMPARE(lines.last().value("code").toInt(), 2); // the programmer's CRC mismatch
    }

    void verifyTellsAProgrammedTargetFromAnEmptyOne()
    {
        WorkFolder work;
        const ZqprogRun empty = work.run({work.emulated(), "verify", "demo.bin"});
        QCOMPARE(empty.exitCode, 1);
        QVERIFY(empty.log().contains("Check EFlash NG!"));
        QVERIFY(empty.errLines().contains("zqprog: verify failed, result code -7"));

        QCOMPARE(work.run({work.emulated(), "program", "demo.bin", "--keep-power"}).exitCode, 0);
        const ZqprogRun programmed = work.run({work.emulated(), "verify", "demo.bin"});
        QCOMPARE(programmed.exitCode, 0);
        QCOMPARE(programmed.log().mid(7),
                 QStringList({"", "", "Target init ok...", "Target type:0x5A3C3180",
                              "Init ready...", "Read crc:" + crcText(work.codeImage()),
                              "Check EFlash OK!", "Target run...", "Target run..."}));
    }

    // The file is judged before the board is opened: nothing is logged, the board is untouched.
    void anUnreadableFileIsRefusedBeforeTheBoardIsOpened()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({work.emulated(), "program", "missing.bin"});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList());
        QCOMPARE(run.errLines(), QStringList{"zqprog: missing.bin: does not exist"});
    }

    // A file zqprog can read but the operation refuses shows the window's box on stderr.
    void aRefusedImageShowsTheWindowsMessageOnStderr()
    {
        WorkFolder work;
        writeAll(work.path("late.bin"), zq::samples::demoCodeImage().left(4) +
                                            QByteArray::fromHex("01100008") + QByteArray(64, 'x'));
        const ZqprogRun run = work.run({work.emulated(), "program", "late.bin"});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.log().mid(7), QStringList({kProblemLine}));
        QVERIFY(run.errLines().contains(kProblem));
    }

    void jsonLinesCarryTheLogAndEndWithTheResult()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({"--json", work.emulated(), "program", "demo.bin"});
        QCOMPARE(run.exitCode, 0);
        const QList<QJsonObject> lines = jsonLines(run);
        QCOMPARE(lines.size(), run.out.size());
        QStringList log;
        QList<int> progress;
        for (const QJsonObject &line : lines.mid(0, lines.size() - 1)) {
            const QString kind = line.value("kind").toString();
            QVERIFY2(kind == "log" || kind == "progress", qPrintable(kind));
            if (kind == "log")
                log << line.value("text").toString().replace(QRegularExpression("^Timer:.*"),
                                                             "Timer:");
            else
                progress << line.value("percent").toInt();
        }
        QCOMPARE(log, programLog(work.codeImage()));
        QCOMPARE(progress.last(), 100);
        const QJsonObject result = lines.last();
        QCOMPARE(result.value("kind").toString(), QStringLiteral("result"));
        QCOMPARE(result.value("command").toString(), QStringLiteral("program"));
        QCOMPARE(result.value("code").toInt(-1), 0);
        QCOMPARE(result.value("exit").toInt(-1), 0);
    }

    void jsonShowsMessagesAndTheFailedCode()
    {
        WorkFolder work;
        writeAll(work.path("late.bin"), zq::samples::demoCodeImage().left(4) +
                                            QByteArray::fromHex("01100008") + QByteArray(64, 'x'));
        const ZqprogRun run = work.run({"--json", work.emulated(), "program", "late.bin"});
        QCOMPARE(run.exitCode, 1);
        const QList<QJsonObject> lines = jsonLines(run);
        QVERIFY(!lines.isEmpty());
        bool messageSeen = false;
        for (const QJsonObject &line : lines)
            messageSeen =
                messageSeen || (line.value("kind") == "message" &&
                                line.value("title") == "Message" && line.value("text") == kProblem);
        QVERIFY(messageSeen);
        QCOMPARE(lines.last().value("code").toInt(), -101);
        QCOMPARE(lines.last().value("exit").toInt(), 1);
    }

    void logFileCollectsEveryRunWithDateAndTime()
    {
        WorkFolder work;
        const QStringList arguments{work.emulated(), "--log", "runs.log", "program", "demo.bin"};
        const ZqprogRun first = work.run(arguments);
        QCOMPARE(work.run(arguments).exitCode, 0);
        QCOMPARE(first.log(), programLog(work.codeImage())); // the console is unchanged

        const QStringList lines =
            QString::fromUtf8(readAll(work.path("runs.log"))).split('\n', Qt::SkipEmptyParts);
        // Every line carries the board's id, so runs on several boards can share the file.
        const QRegularExpression stamped(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\[0x00012345\\] (.*)$");
        QStringList texts;
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = stamped.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            texts << match.captured(1);
        }
        QCOMPARE(texts.count("Program target is OK!!!!!!"), 2);
        QCOMPARE(texts.count(""), 2); // the empty line before each verdict
        QCOMPARE(texts.count("Open the programmer ok..."), 2);
        QVERIFY(!texts.join('\n').contains("Progress"));
    }
};

QTEST_GUILESS_MAIN(ZqprogOperationsTest)
#include "test_zqprog_operations.moc"
