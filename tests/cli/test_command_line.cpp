// Reading zqprog's command line, and choosing among the programmers found.
#include "cli/Boards.h"
#include "cli/CommandLine.h"

#include <QtTest>

using zq::cli::BoardProbe;
using zq::cli::chooseBoard;
using zq::cli::parseCommandLine;
using zq::cli::ParsedCommandLine;
using zq::cli::Subcommand;

class CommandLineTest : public QObject
{
    Q_OBJECT
private slots:
    void optionsMayStandBeforeOrAfterTheSubcommand()
    {
        const QStringList orders[] = {
            {"--json", "--device", "d1", "download", "a.bin", "--mcu", "zq427", "--speed", "LOW"},
            {"download", "--mcu=ZQ427", "a.bin", "--speed=low", "--device=d1", "--json"},
        };
        for (const QStringList &arguments : orders) {
            const ParsedCommandLine parsed = parseCommandLine(arguments);
            QCOMPARE(parsed.error, QString());
            QCOMPARE(parsed.options.subcommand, Subcommand::Download);
            QCOMPARE(parsed.options.file, QStringLiteral("a.bin"));
            QCOMPARE(parsed.options.mcuTypeIndex, 4);
            QCOMPARE(parsed.options.swdSpeedIndex, 2);
            QCOMPARE(parsed.options.device, QStringLiteral("d1"));
            QVERIFY(parsed.options.json);
        }
    }

    // The values that stand in for the form's start with the form's.
    void defaultsAreTheFormsInitialValues()
    {
        const ParsedCommandLine parsed = parseCommandLine({"program", "a.bin"});
        QCOMPARE(parsed.error, QString());
        QCOMPARE(parsed.options.programNumber, QStringLiteral("100000"));
        QCOMPARE(parsed.options.swdSpeedIndex, 0);
        QCOMPARE(parsed.options.mcuTypeIndex, 0);
        QVERIFY(!parsed.options.keepPower);
        QVERIFY(!parsed.options.emulated);
    }

    // A bare --emulated never swallows the subcommand after it.
    void emulatedTakesAFolderOnlyWithAnEqualsSign()
    {
        ParsedCommandLine parsed = parseCommandLine({"--emulated", "info"});
        QCOMPARE(parsed.error, QString());
        QVERIFY(parsed.options.emulated);
        QCOMPARE(parsed.options.emulatedStateFolders, QStringList{QString()});
        QCOMPARE(parsed.options.subcommand, Subcommand::Info);

        parsed = parseCommandLine({"info", "--emulated=/tmp/board"});
        QVERIFY(parsed.options.emulated);
        QCOMPARE(parsed.options.emulatedStateFolders, QStringList{"/tmp/board"});

        // One board each, in the order given.
        parsed = parseCommandLine({"--emulated=/a", "check", "a.bin", "--all", "--emulated=/b"});
        QCOMPARE(parsed.error, QString());
        QCOMPARE(parsed.options.emulatedStateFolders, (QStringList{"/a", "/b"}));
        QVERIFY(parsed.options.all);
        QVERIFY(!parseCommandLine({"check", "a.bin", "--all", "--device", "1-2"}).error.isEmpty());
        QVERIFY(!parseCommandLine({"info", "--all"}).error.isEmpty());
    }

    void aDoubleDashEndsTheOptions()
    {
        const ParsedCommandLine parsed = parseCommandLine({"verify", "--", "--odd.bin"});
        QCOMPARE(parsed.error, QString());
        QCOMPARE(parsed.options.file, QStringLiteral("--odd.bin"));
    }

    void theProgramNumberFollowsTheFormsField_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("two digits") << "10" << true;
        QTest::newRow("largest") << "4294967295" << true;
        QTest::newRow("one digit") << "9" << false;
        QTest::newRow("leading zero") << "012" << false;
        QTest::newRow("sign") << "+12" << false;
        QTest::newRow("too large") << "4294967296" << false;
    }

    void theProgramNumberFollowsTheFormsField()
    {
        QFETCH(QString, number);
        QFETCH(bool, accepted);
        const ParsedCommandLine parsed =
            parseCommandLine({"download", "a.bin", "--mcu", "ZQ318", "--number", number});
        QCOMPARE(parsed.error.isEmpty(), accepted);
        if (accepted)
            QCOMPARE(parsed.options.programNumber, number);
    }

    void helpWinsOverEverythingElse()
    {
        ParsedCommandLine parsed = parseCommandLine({"download", "--help"});
        QCOMPARE(parsed.error, QString());
        QVERIFY(parsed.options.help);
        QCOMPARE(parsed.options.subcommand, Subcommand::Download);

        parsed = parseCommandLine({"-h"});
        QVERIFY(parsed.options.help);
        QCOMPARE(parsed.options.subcommand, Subcommand::None);

        parsed = parseCommandLine({"help", "nonsense"});
        QVERIFY(!parsed.error.isEmpty());
    }

    void switchesTakeNoValue()
    {
        QVERIFY(!parseCommandLine({"program", "a.bin", "--keep-power=1"}).error.isEmpty());
        QVERIFY(parseCommandLine({"update-boot", "a.boot", "--allow-boot-update"})
                    .options.allowBootUpdate);
        QVERIFY(!parseCommandLine({"update-app", "a.app", "--allow-boot-update"}).error.isEmpty());
    }

    // --device takes an id, a port path or a path, whole or as a prefix that fits one board.
    void theBoardIsChosenByIdPortOrPath_data()
    {
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QString>("chosen"); // the port path chosen; empty for an error
        QTest::addColumn<int>("exitCode");   // of an error
        QTest::addColumn<QStringList>("listed");
        const QStringList twins{"0x00012345  1-1.2", "0x00012346  1-1.3"};
        QTest::newRow("id") << "0x00012346"
                            << "1-1.3" << 0 << QStringList();
        QTest::newRow("id without leading zeros") << "0x12346"
                                                  << "1-1.3" << 0 << QStringList();
        QTest::newRow("id prefix, any case") << "0X0009"
                                             << "2-4" << 0 << QStringList();
        QTest::newRow("ambiguous id prefix") << "0x0001234"
                                             << "" << 2 << twins;
        QTest::newRow("port") << "1-1.3"
                              << "1-1.3" << 0 << QStringList();
        QTest::newRow("port prefix") << "2"
                                     << "2-4" << 0 << QStringList();
        QTest::newRow("ambiguous port prefix") << "1-1."
                                               << "" << 2 << twins;
        QTest::newRow("whole port beats prefix") << "3-1"
                                                 << "3-1" << 0 << QStringList();
        QTest::newRow("path") << "usb:1-1.2/vid_5a17&pid_c0d2"
                              << "1-1.2" << 0 << QStringList();
        QTest::newRow("path prefix") << "usb:2"
                                     << "2-4" << 0 << QStringList();
        QTest::newRow("absent") << "1-9"
                                << "" << 3 << twins;
    }

    void theBoardIsChosenByIdPortOrPath()
    {
        QFETCH(QString, wanted);
        QFETCH(QString, chosen);
        QFETCH(int, exitCode);
        QFETCH(QStringList, listed);
        const QList<BoardProbe> found{board("1-1.2", 0x00012345), board("1-1.3", 0x00012346),
                                      board("2-4", 0x00098765), board("3-1", 0x00000031),
                                      board("3-1.2", 0x00000312)};
        const auto choice = chooseBoard(found, wanted);
        QCOMPARE(portOf(choice.path), chosen);
        QCOMPARE(choice.error.isEmpty(), chosen != "");
        if (chosen.isEmpty()) {
            QCOMPARE(choice.exitCode, exitCode);
            for (const QString &line : listed)
                QVERIFY2(choice.error.contains("\n  " + line), qPrintable(choice.error));
            // What is listed can be typed back as it is.
            QVERIFY2(!choice.error.contains('&'), qPrintable(choice.error));
        }
    }

    void noGuessAmongSeveralOrNone()
    {
        const QList<BoardProbe> two{board("1-2", 1), board("1-3", 2)};
        QCOMPARE(portOf(chooseBoard(two.mid(1), QString()).path), QStringLiteral("1-3"));
        const auto several = chooseBoard(two, QString());
        QCOMPARE(several.path, QString());
        QCOMPARE(several.exitCode, 3);
        QVERIFY(several.error.contains("--device"));
        QVERIFY(several.error.contains("\n  0x00000001  1-2\n  0x00000002  1-3"));
        QVERIFY(!chooseBoard({}, QString()).error.isEmpty());
        QVERIFY(chooseBoard({}, "1-2").error.contains("no programmer was found"));
    }

private:
    static BoardProbe board(const QString &port, uint32_t id)
    {
        BoardProbe probe;
        probe.path = "usb:" + port + "/vid_5a17&pid_c0d2";
        probe.port = zq::cli::portOfPath(probe.path);
        probe.boardId = id;
        return probe;
    }
    static QString portOf(const QString &path) { return zq::cli::portOfPath(path); }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
