// Several programmers at once: each is listed with its port path, id, mode and versions, chosen
// by any of them or a prefix, followed by its id through an update, and --all works on every
// ready one in parallel and sums up, failing when one board failed.
#include "ZqprogRun.h"

#include <QJsonArray>
#include <QtTest>

using namespace zq::test;

namespace
{

// Boards 1 to n in state folders "b1".."bn", as --emulated options; board k is 0x00012344 + k.
QStringList boards(const WorkFolder &work, int n)
{
    QStringList options;
    for (int k = 1; k <= n; ++k)
        options << "--emulated=" + work.path("b" + QString::number(k));
    return options;
}

void setBoard(const WorkFolder &work, int k, const QByteArray &boardIni)
{
    QDir(work.folder.path()).mkpath("b" + QString::number(k));
    writeAll(work.path("b" + QString::number(k) + "/board.ini"), boardIni);
}

QString idOf(int k)
{
    return zq::toHexText(0x00012344 + uint32_t(k), 8);
}

QStringList tagged(const QStringList &lines, const QString &tag)
{
    QStringList found;
    for (const QString &line : lines)
        if (line.startsWith("[" + tag + "] "))
            found << line.mid(tag.size() + 3);
    return found;
}

} // namespace

class ZqprogBoardsTest : public QObject
{
    Q_OBJECT
private slots:
    void boardsAreListedAndChosenByIdPortOrPrefix()
    {
        WorkFolder work;
        const QStringList three = boards(work, 3);
        const ZqprogRun list = work.run(three + QStringList{"list"});
        QCOMPARE(list.exitCode, 0);
        QCOMPARE(
            list.out,
            (QStringList{"emu:1-1  0x00012345  normal work  boot 0x20250128  app 0x20250310",
                         "emu:1-2  0x00012346  normal work  boot 0x20250128  app 0x20250310",
                         "emu:1-3  0x00012347  normal work  boot 0x20250128  app 0x20250310"}));

        const QJsonArray listed = jsonLines(work.run(three + QStringList{"list", "--json"}))
                                      .last()
                                      .value("boards")
                                      .toArray();
        QCOMPARE(listed.size(), 3);
        QCOMPARE(listed.at(1).toObject().value("port").toString(), QString("emu:1-2"));
        QCOMPARE(listed.at(1).toObject().value("board").toDouble(), double(0x00012346));
        QCOMPARE(listed.at(1).toObject().value("mode").toString(), QString("normal"));
        QCOMPARE(listed.at(1).toObject().value("appVersion").toDouble(), double(0x20250310));

        const struct {
            const char *device;
            int board; // 0: refused
            int exitCode;
        } cases[] = {
            {"0x00012346", 2, 0}, {"0x12347", 3, 0}, {"emu:1-1", 1, 0},
            {"0x0001234", 0, 2},  {"emu:1-", 0, 2},  {"emu:1-9", 0, 3},
        };
        for (const auto &c : cases) {
            const ZqprogRun info = work.run(three + QStringList{"info", "--device", c.device});
            QVERIFY2(info.exitCode == c.exitCode, c.device);
            if (c.board != 0) {
                QVERIFY2(info.out.contains("Board ID:     " + idOf(c.board)), c.device);
                continue;
            }
            // The boards that fit are listed as they can be typed back.
            QVERIFY2(info.err.contains("\n  0x00012345  emu:1-1\n"), qPrintable(info.err));
            QVERIFY2(!info.err.contains('&'), qPrintable(info.err));
        }
        const ZqprogRun unasked = work.run(three + QStringList{"info"});
        QCOMPARE(unasked.exitCode, 3);
        QVERIFY(unasked.err.contains("several programmers found; pick one with --device:"));
    }

    // The board restarts and comes back into its port, under its path; zqprog goes on with the
    // board of that id.
    void anUpdatedBoardIsFollowedByItsId()
    {
        WorkFolder work;
        setBoard(work, 2, "mode=mcu-update\nboard_id=0x00012346\n");
        const ZqprogRun run =
            work.run(boards(work, 2) +
                     QStringList{"--json", "update-app", "demo.app", "--device", "0x00012346"});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject result = jsonLines(run).last();
        QCOMPARE(result.value("board").toDouble(), double(0x00012346));
        QCOMPARE(result.value("mode").toString(), QString("normal"));
        QVERIFY2(result.value("device").toString().startsWith("emu:1-2 "),
                 qPrintable(result.value("device").toString()));
        QCOMPARE(readAll(work.path("b2/app.bin")), work.appImage());
        QVERIFY(readAll(work.path("b1/app.bin")).isEmpty());
    }

    void allWorksOnEveryReadyBoardAndSumsUp()
    {
        WorkFolder work;
        setBoard(work, 2, "board_id=0x00012346\n");
        writeAll(work.path("b2/faults.ini"), "failing-status I 1\n"); // its flash check fails
        setBoard(work, 4, "mode=mcu-update\nboard_id=0x00012348\n");
        const QStringList download{"download", "demo.bin", "--mcu", "ZQ318", "--log", "line.log"};
        const ZqprogRun run = work.run(boards(work, 4) + download + QStringList{"--all"});
        QCOMPARE(run.exitCode, 1);
        const QString ok = "Download to the programmer flash is OK!!!!!!";
        const QString fail = "Download to the programmer flash is fail.....";
        QCOMPARE(tagged(run.out, idOf(1)).last(), ok);
        QCOMPARE(tagged(run.out, idOf(2)).last(), fail);
        QCOMPARE(tagged(run.out, idOf(3)).last(), ok);
        // Refused after the connect: it waits for a new application.
        QVERIFY(tagged(run.out, idOf(4)).contains("Connect the programmer successful"));
        QVERIFY(!tagged(run.out, idOf(4)).contains(ok) && !tagged(run.out, idOf(4)).contains(fail));
        const QStringList table = run.out.mid(run.out.indexOf(QRegularExpression("board .*")));
        QCOMPARE(table.size(), 5);
        const QStringList verdicts{"ok 0", "failed -5", "ok 0", "not ready -"};
        for (int k = 1; k <= 4; ++k) {
            // board, result, code, seconds, the image's CRC, the programmer's state folder
            const QStringList words = table.at(k).split(' ', Qt::SkipEmptyParts);
            QCOMPARE(words.first(), idOf(k));
            QCOMPARE(words.mid(1, words.size() - 4).join(' '), verdicts.at(k - 1));
            QCOMPARE(words.at(words.size() - 2), crcText(WorkFolder::codeImage()));
            QCOMPARE(words.last(), work.path("b" + QString::number(k)));
        }
        QVERIFY2(run.err.contains("zqprog: 2 of 4 programmers did not succeed"),
                 qPrintable(run.err));
        const QByteArray image = WorkFolder::codeImage();
        for (int k : {1, 3})
            QCOMPARE(readAll(work.path("b" + QString::number(k) + "/spi-flash.bin"))
                         .mid(0x10000, image.size()),
                     image);
        // Every board's zqprog kept its record in the one log file.
        const QString log = QString::fromUtf8(readAll(work.path("line.log")));
        for (int k = 1; k <= 3; ++k)
            QVERIFY2(log.contains("zqprog: board: " + idOf(k) + " at emu:"), qPrintable(log));

        // Without the fault, every ready board passes; the JSON ends with the summary.
        QFile::remove(work.path("b2/faults.ini"));
        const ZqprogRun check =
            work.run(boards(work, 3) + QStringList{"check", "demo.bin", "--all", "--json"});
        QCOMPARE(check.exitCode, 0);
        const QList<QJsonObject> lines = jsonLines(check);
        QVERIFY(!lines.isEmpty());
        QSet<double> resultsOf;
        for (const QJsonObject &line : lines.mid(0, lines.size() - 1)) {
            QVERIFY(line.value("board").isDouble());
            if (line.value("kind") == "result")
                resultsOf.insert(line.value("board").toDouble());
        }
        QCOMPARE(resultsOf.size(), 3);
        const QJsonObject summary = lines.last();
        QCOMPARE(summary.value("exit").toInt(), 0);
        QVERIFY(summary.value("board").isNull());
        const QJsonArray rows = summary.value("summary").toArray();
        QCOMPARE(rows.size(), 3);
        for (const QJsonValue &row : rows) {
            QCOMPARE(row.toObject().value("result").toString(), QString("ok"));
            QCOMPARE(zq::toHexText(uint32_t(row.toObject().value("crc").toDouble()), 8),
                     crcText(WorkFolder::codeImage()));
        }
    }
};

QTEST_GUILESS_MAIN(ZqprogBoardsTest)
#include "test_zqprog_boards.moc"
