// What zqprog will not do: the operations the window's buttons would not have allowed (exit 1),
// command lines it cannot read (exit 2) and programmers it cannot use (exit 3).
#include "ZqprogRun.h"

#include <QtTest>

using namespace zq::test;

namespace
{

const QByteArray kMcuUpdateBoard = "mode=mcu-update\n";

} // namespace

class ZqprogRefusalsTest : public QObject
{
    Q_OBJECT
private slots:
    void refusedOperations_data()
    {
        QTest::addColumn<QByteArray>("boardIni");
        QTest::addColumn<bool>("withCatalogue");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("reason");

        QTest::newRow("program while the boot loader waits")
            << kMcuUpdateBoard << true << QStringList{"program", "demo.bin"}
            << "program needs the programmer in normal work";
        QTest::newRow("verify while the boot loader waits")
            << kMcuUpdateBoard << true << QStringList{"verify", "demo.bin"}
            << "verify needs the programmer in normal work";
        QTest::newRow("download while the boot loader waits")
            << kMcuUpdateBoard << true << QStringList{"download", "demo.bin", "--mcu", "ZQ318"}
            << "download needs the programmer in normal work";
        QTest::newRow("download to a flash the catalogue lacks")
            << QByteArray("flash_id=0x123456\n") << true
            << QStringList{"download", "demo.bin", "--mcu", "ZQ318"}
            << "flash id 0x123456 is not listed in";
        QTest::newRow("check without a catalogue")
            << QByteArray() << false << QStringList{"check", "demo.bin"}
            << "no Flash.ini was found";
        QTest::newRow("update-app in normal work")
            << QByteArray() << true << QStringList{"update-app", "demo.app"}
            << "update-app needs the programmer in update of the MCU code";
        QTest::newRow("update-boot without permission")
            << QByteArray() << true << QStringList{"update-boot", "demo.boot"}
            << "refused unless --allow-boot-update is given";
        QTest::newRow("update-boot while the boot loader waits")
            << kMcuUpdateBoard << true
            << QStringList{"update-boot", "demo.boot", "--allow-boot-update"}
            << "update-boot needs the programmer in normal work";
    }

    void refusedOperations()
    {
        QFETCH(QByteArray, boardIni);
        QFETCH(bool, withCatalogue);
        QFETCH(QStringList, arguments);
        QFETCH(QString, reason);
        WorkFolder work;
        work.setBoard(boardIni);
        if (!withCatalogue)
            QFile::remove(work.path("Flash.ini"));
        const ZqprogRun run = work.run(QStringList{work.emulated()} + arguments);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        // Nothing but the open was done: the last line is the connect's.
        if (!run.out.isEmpty())
            QCOMPARE(run.out.last(), QStringLiteral("Connect the programmer successful"));
        QCOMPARE(work.boardFile("target-flash.bin"), QByteArray());
        QCOMPARE(work.boardFile("spi-flash.bin"), QByteArray());
        QCOMPARE(work.boardFile("app.bin"), QByteArray());
    }

    void aRefusalInJsonHasNoCodeButAReason()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({work.emulated(), "--json", "update-app", "demo.app"});
        QCOMPARE(run.exitCode, 1);
        const QList<QJsonObject> lines = jsonLines(run);
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.last().value("kind").toString(), QStringLiteral("result"));
        QVERIFY(lines.last().value("code").isNull());
        QVERIFY(lines.last().value("error").toString().contains("update of the MCU code"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("reason");
        QTest::newRow("nothing") << QStringList{} << "no subcommand given";
        QTest::newRow("unknown subcommand") << QStringList{"erase"} << "unknown subcommand erase";
        QTest::newRow("unknown option") << QStringList{"info", "--fast"} << "unknown option --fast";
        QTest::newRow("missing file") << QStringList{"program"} << "program needs a FILE";
        QTest::newRow("extra argument")
            << QStringList{"check", "a.bin", "b.bin"} << "unexpected argument b.bin";
        QTest::newRow("download without type")
            << QStringList{"download", "demo.bin"} << "download needs --mcu TYPE";
        QTest::newRow("unknown type")
            << QStringList{"download", "demo.bin", "--mcu", "ZQ999"} << "--mcu takes one of";
        QTest::newRow("speed") << QStringList{"program", "demo.bin", "--speed", "fast"}
                               << "--speed takes high";
        QTest::newRow("number with a leading zero")
            << QStringList{"download", "demo.bin", "--mcu", "ZQ318", "--number", "0100"}
            << "--number takes";
        QTest::newRow("number beyond 32 bits")
            << QStringList{"download", "demo.bin", "--mcu", "ZQ318", "--number", "4294967296"}
            << "--number takes";
        QTest::newRow("option of another subcommand")
            << QStringList{"program", "demo.bin", "--mcu", "ZQ318"}
            << "--mcu is not an option of program";
        QTest::newRow("value missing")
            << QStringList{"info", "--device"} << "--device needs a value";
        QTest::newRow("log file that cannot be opened")
            << QStringList{"info", "--log", "no-such-folder/x.log"} << "cannot open the log file";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, reason);
        WorkFolder work;
        const ZqprogRun run = work.run(QStringList{"--emulated"} + arguments);
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QStringList());
        QVERIFY2(run.err.startsWith("zqprog: " + reason), qPrintable(run.err));
    }

    void noSuchDeviceNamesTheOnesFound()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({"--emulated", "--device", "emu:9-9", "info"});
        QCOMPARE(run.exitCode, 3);
        QCOMPARE(run.out, QStringList());
        QVERIFY(run.err.contains("no programmer at emu:9-9; found:\n  0x00012345  emu:1-1"));
    }

    void thePortPathFromListIsAccepted()
    {
        WorkFolder work;
        const ZqprogRun list = work.run({"--emulated", "list"});
        QCOMPARE(list.exitCode, 0);
        QCOMPARE(list.out.size(), 1);
        const QString port = list.out.first().section("  ", 0, 0);
        QCOMPARE(port, QStringLiteral("emu:1-1"));
        // Each run has a new emulated bus, whose first board gets the same path.
        const ZqprogRun info = work.run({"--emulated", "--device", port, "info"});
        QCOMPARE(info.exitCode, 0);
        QVERIFY(info.out.contains("Device:       " + port + " vid_5a17&pid_c0d2"));
    }

    void helpForEverySubcommand()
    {
        WorkFolder work;
        const ZqprogRun overview = work.run({"--help"});
        QCOMPARE(overview.exitCode, 0);
        for (const char *name : {"list", "info", "download", "check", "program", "verify",
                                 "update-app", "update-boot"}) {
            QVERIFY(overview.out.join('\n').contains(QStringLiteral("  ") + name));
            const ZqprogRun help = work.run({name, "--help"});
            QCOMPARE(help.exitCode, 0);
            QVERIFY2(help.out.first().startsWith(QStringLiteral("Usage: zqprog ") + name), name);
            QCOMPARE(work.run({"help", name}).out, help.out);
        }
    }
};

QTEST_GUILESS_MAIN(ZqprogRefusalsTest)
#include "test_zqprog_refusals.moc"
