// The programmer's own programs replaced from the command line: the board restarts into its
// other program and comes back into its port, and zqprog waits for it and reports its mode.
#include "ZqprogRun.h"

#include <QtTest>

using namespace zq::test;

class ZqprogUpdateTest : public QObject
{
    Q_OBJECT
private slots:
    void updateAppWaitsForTheNewApplication()
    {
        WorkFolder work;
        work.setBoard("mode=mcu-update\n");
        const ZqprogRun run = work.run({work.emulated(), "update-app", "demo.app"});
        QCOMPARE(run.exitCode, 0);
        const QStringList log = run.log();
        const int verdict = log.indexOf("Update MCU is OK!!!!!!");
        QVERIFY(verdict > 0);
        QVERIFY(
            log.mid(0, 8).contains("APP code, CRC = " + crcText(work.appImage()) + " Len: 20480"));
        // Gone, back and opened again: the new application answers.
        QVERIFY(log.mid(verdict).filter("device remove:").size() == 1);
        QVERIFY(log.mid(verdict).filter("device insert:").size() == 1);
        QCOMPARE(log.mid(log.size() - 7), openLog(kNormalWork, 0x20250128, kSampleVersion));
        QVERIFY2(run.err.contains(", in normal work"), qPrintable(run.err));
        QCOMPARE(work.boardFile("app.bin"), work.appImage());
        QVERIFY(work.boardFile("board.ini").contains("mode=normal"));
    }

    void updateBootReportsTheModeInJson()
    {
        WorkFolder work;
        const ZqprogRun run = work.run(
            {work.emulated(), "--json", "update-boot", "demo.boot", "--allow-boot-update"});
        QCOMPARE(run.exitCode, 0);
        const QList<QJsonObject> lines = jsonLines(run);
        QVERIFY(!lines.isEmpty());
        const QJsonObject result = lines.last();
        QCOMPARE(result.value("code").toInt(-1), 0);
        QCOMPARE(result.value("mode").toString(), QStringLiteral("mcu-update"));
        QVERIFY(result.value("device").toString().contains("vid_5a17&pid_c0d2"));
        QCOMPARE(work.boardFile("boot.bin"), work.bootImage());
    }

    void aFailedUpdateLeavesTheProgrammerWhereItWas()
    {
        WorkFolder work;
        work.setBoard("mode=mcu-update\n");
        writeAll(work.path("short.app"), QByteArray(4, '\x01'));
        const ZqprogRun run = work.run({work.emulated(), "update-app", "short.app"});
        // Judged before the board is opened.
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("short.app holds 4 bytes; an image needs at least 8"),
                 qPrintable(run.err));
        QCOMPARE(run.out, QStringList());
        QVERIFY(!run.err.contains("restarts"));
        QVERIFY(work.boardFile("board.ini").contains("mode=mcu-update"));
    }
};

QTEST_GUILESS_MAIN(ZqprogUpdateTest)
#include "test_zqprog_update.moc"
