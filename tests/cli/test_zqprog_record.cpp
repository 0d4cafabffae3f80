// What a production line keeps of a run: the version, the log file's header and its write
// errors, a target that did not start, and which Flash.ini was used.
#include "ZqprogRun.h"

#include <QRegularExpression>
#include <QtTest>

using namespace zq::test;

namespace
{

QStringList logFileTexts(const WorkFolder &work, const QString &name)
{
    QStringList texts;
    static const QRegularExpression stamped(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\[(0x[0-9A-F]{8}|-)\\] (.*)$");
    for (const QString &line :
         QString::fromUtf8(readAll(work.path(name))).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = stamped.match(line);
        texts << (match.hasMatch() ? match.captured(1) + ' ' + match.captured(2)
                                   : "unstamped: " + line);
    }
    return texts;
}

} // namespace

class ZqprogRecordTest : public QObject
{
    Q_OBJECT
private slots:
    void versionNamesTheBuild()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({"--version"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.size(), 1);
        QVERIFY2(QRegularExpression("^zqprog 1\\.20 \\(build \\S+\\)$")
                     .match(run.out.first())
                     .hasMatch(),
                 qPrintable(run.out.first()));
    }

    void aRunStartsWithItsHeaderAndEveryLineNamesTheBoard()
    {
        WorkFolder work;
        const ZqprogRun run =
            work.run({work.emulated(), "--log", "runs.log", "program", "demo.bin"});
        QCOMPARE(run.exitCode, 0);
        const QString crc = crcText(work.codeImage());
        const QString length = QString::number(work.codeImage().size());
        // The image is named before the operation on the console too.
        QVERIFY2(run.errLines().first().endsWith(length + " bytes, CRC " + crc),
                 qPrintable(run.err));

        const QStringList texts = logFileTexts(work, "runs.log");
        QVERIFY2(texts.size() > 6, qPrintable(texts.join('\n')));
        QVERIFY(texts.at(0).startsWith("0x00012345 zqprog: zqprog 1.20 (build "));
        QCOMPARE(texts.at(1), "0x00012345 zqprog: command: zqprog " + work.emulated() +
                                  " --log runs.log program demo.bin");
        QVERIFY2(texts.at(2).startsWith("0x00012345 zqprog: board: 0x00012345 at emu:"),
                 qPrintable(texts.at(2)));
        QCOMPARE(texts.at(3), "0x00012345 zqprog: image: demo.bin, raw binary, CRC " + crc + ", " +
                                  length + " bytes");
        for (const QString &text : texts)
            QVERIFY2(text.startsWith("0x00012345 "), qPrintable(text));
        QVERIFY(texts.contains("0x00012345 Program target is OK!!!!!!"));
    }

    // The developer log goes to stderr only: the user's lines and the JSON stay as they are.
    void verboseAddsTheDeveloperLogOnStandardErrorOnly()
    {
        WorkFolder work;
        const ZqprogRun plain = work.run({work.emulated(), "check", "demo.bin"});
        const ZqprogRun verbose = work.run({"--verbose", work.emulated(), "check", "demo.bin"});
        QCOMPARE(verbose.exitCode, plain.exitCode);
        QCOMPARE(verbose.log(), plain.log());
        QVERIFY2(!plain.err.contains("zq."), qPrintable(plain.err));
        for (const char *expected :
             {"zq.usb: opened emu:", "zq.protocol: frame out: 'K'", "zq.protocol: reply in: 'Y'"})
            QVERIFY2(verbose.err.contains(expected), qPrintable(verbose.err));
    }

    void aLogFileThatCannotBeWrittenFailsTheRun()
    {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("no /dev/full here");
        WorkFolder work;
        const ZqprogRun run = work.run({work.emulated(), "--log", "/dev/full", "info"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("zqprog: cannot write the log file /dev/full"),
                 qPrintable(run.err));
    }

    // The run step's failure ends in the window's "OK" verdict; zqprog's exit says otherwise.
    void aTargetThatDidNotStartFailsProgram()
    {
        WorkFolder work;
        writeAll(work.board() + "/faults.ini", "failing-status A 2\n");
        const ZqprogRun run = work.run({work.emulated(), "program", "demo.bin"});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.log().mid(run.log().size() - 5),
                 QStringList({"Check crc OK!", "Timer:", "Target run fail...", "",
                              "Program target is OK!!!!!!"}));
        QVERIFY2(run.err.contains("the image is written and checked, but the target did not run"),
                 qPrintable(run.err));
        QVERIFY(work.boardFile("target-flash.bin").startsWith(work.codeImage()));
    }

    void flashIniIsLookedForInOrder_data()
    {
        QTest::addColumn<QStringList>("present"); // the places that hold a Flash.ini
        QTest::addColumn<QString>("used");
        const QStringList all{"option", "cwd", "config", "installed"};
        QTest::newRow("the option first") << all << QString("option");
        QTest::newRow("then the current directory") << QStringList(all.mid(1)) << QString("cwd");
        QTest::newRow("then the user's configuration")
            << QStringList(all.mid(2)) << QString("config");
        QTest::newRow("then the installed sample")
            << QStringList(all.mid(3)) << QString("installed");
        QTest::newRow("none") << QStringList{} << QString();
    }

    void flashIniIsLookedForInOrder()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, used);
        WorkFolder work;
        // A copy of zqprog installed as the package lays it out: bin/ beside share/.
        QDir(work.folder.path()).mkpath("prefix/bin");
        const QString program = work.path("prefix/bin/zqprog");
        QVERIFY(QFile::copy(ZQPROG_PATH, program));
        QFile(program).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        const QHash<QString, QString> places{
            {"option", work.path("mine.ini")},
            {"cwd", work.path("Flash.ini")},
            {"config", work.path("config/zq-programmer/Flash.ini")},
            {"installed", work.path("prefix/share/zq-programmer/Flash.ini")}};
        const QByteArray catalogue = readAll(work.path("Flash.ini"));
        QFile::remove(work.path("Flash.ini"));
        for (const QString &place : present) {
            QDir().mkpath(QFileInfo(places.value(place)).path());
            QVERIFY(writeAll(places.value(place), catalogue));
        }
        QStringList arguments{work.emulated(), "info"};
        if (present.contains("option"))
            arguments << "--flash-ini" << places.value("option");
        const ZqprogRun run = work.run(arguments, program);
        QCOMPARE(run.exitCode, 0);
        const QString expected = used.isEmpty() ? "none found" : places.value(used);
        QVERIFY2(run.out.contains("Flash.ini:    " + QDir::cleanPath(expected)) ||
                     run.out.contains("Flash.ini:    " + expected),
                 qPrintable(run.out.join('\n')));
        QVERIFY(run.out.contains(used.isEmpty() ? "Flash name:   " : "Flash name:   W25Q128"));
    }

    void aMissingFlashIniOptionIsRefused()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({work.emulated(), "info", "--flash-ini", "none.ini"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("--flash-ini none.ini: does not exist"), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(ZqprogRecordTest)
#include "test_zqprog_record.moc"
