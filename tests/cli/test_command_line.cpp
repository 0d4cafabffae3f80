// Reading zqprog's command line, and choosing among the programmers found.
#include "cli/BoardChoice.h"
#include "cli/CommandLine.h"

#include <QtTest>

using zq::cli::chooseBoard;
using zq::cli::Command;
using zq::cli::parseCommandLine;
using zq::cli::ParsedCommandLine;

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
            QCOMPARE(parsed.options.command, Command::Download);
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
        QCOMPARE(parsed.options.emulatedStateFolder, QString());
        QCOMPARE(parsed.options.command, Command::Info);

        parsed = parseCommandLine({"info", "--emulated=/tmp/board"});
        QVERIFY(parsed.options.emulated);
        QCOMPARE(parsed.options.emulatedStateFolder, QStringLiteral("/tmp/board"));
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
        QCOMPARE(parsed.options.command, Command::Download);

        parsed = parseCommandLine({"-h"});
        QVERIFY(parsed.options.help);
        QCOMPARE(parsed.options.command, Command::None);

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

    void theBoardIsTheOneAskedForOrTheOnlyOne()
    {
        QCOMPARE(chooseBoard({"a"}, QString()).path, QStringLiteral("a"));
        QCOMPARE(chooseBoard({"a", "b"}, "b").path, QStringLiteral("b"));
        QVERIFY(chooseBoard({"a", "b"}, "b").error.isEmpty());
    }

    void noGuessAmongSeveralOrForAMissingOne()
    {
        const auto several = chooseBoard({"a", "b"}, QString());
        QCOMPARE(several.path, QString());
        QVERIFY(several.error.contains("--device"));
        QVERIFY(several.error.contains("\n  a\n  b"));

        const auto missing = chooseBoard({"a"}, "c");
        QCOMPARE(missing.path, QString());
        QVERIFY(missing.error.contains("no programmer at c"));
        QVERIFY(missing.error.contains("\n  a"));

        QVERIFY(!chooseBoard({}, QString()).error.isEmpty());
        QVERIFY(!chooseBoard({}, "a").error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
