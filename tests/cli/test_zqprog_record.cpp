// What a production line keeps of a run: the version, the log file's header and its write
// errors, a target that did not start, and which Flash.ini was used.
#include "ZqprogRun.h"

#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

    // A full disk, as a file size limit of nothing (its signal ignored, so the write fails).
    void aLogFileThatCannotBeWrittenFailsTheRun()
    {
        WorkFolder work;
        const ZqprogRun run = work.run({"-c", "ulimit -f 0; trap '' XFSZ; exec \"$0\" \"$@\"",
                                        ZQPROG_PATH, "--emulated", "--log", "runs.log", "info"},
                                       "/bin/sh");
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("zqprog: cannot write the log file runs.log: "),
                 qPrintable(run.err));
    }

    void theLogIsARegularFileOrAFifoWithAReader_data()
    {
        QTest::addColumn<QString>("made"); // what runs.log is
        QTest::addColumn<QString>("refusal");
        const QString noReader = "is a FIFO with no reader";
        QTest::newRow("a FIFO with a reader") << "fifo, read" << QString();
        QTest::newRow("a FIFO with no reader") << "fifo" << noReader;
        QTest::newRow("a link to a FIFO with no reader") << "link to fifo" << noReader;
        QTest::newRow("a link to a device node")
            << "link to device"
            << "is a character device, not a regular file or a FIFO";
    }

    // Refused at once, never waited on: a FIFO's open must not wait for a reader.
    void theLogIsARegularFileOrAFifoWithAReader()
    {
        QFETCH(QString, made);
        QFETCH(QString, refusal);
        WorkFolder work;
        const QString node = work.path(made.contains("link") ? "node" : "runs.log");
        const QByteArray name = QFile::encodeName(node);
        if (made.contains("device") && ::geteuid() != 0)
            QSKIP("making a device node takes root");
        QVERIFY(made.contains("device")
                    ? ::mknod(name.constData(), S_IFCHR | 0600, makedev(1, 3)) == 0
                    : ::mkfifo(name.constData(), 0600) == 0);
        QVERIFY(!made.contains("link") || QFile::link(node, work.path("runs.log")));
        QFile reader;
        QVERIFY(!made.contains("read") ||
                reader.open(::open(name.constData(), O_RDONLY | O_NONBLOCK), QIODevice::ReadOnly,
                            QFileDevice::AutoCloseHandle));
        QElapsedTimer clock;
        clock.start();
        const ZqprogRun run = work.run({work.emulated(), "--log", "runs.log", "info"});
        QVERIFY(clock.elapsed() < 10000);
        QVERIFY2(run.exitCode == (refusal.isEmpty() ? 0 : 2), qPrintable(run.err));
        QVERIFY2(run.err.startsWith("zqprog: cannot open the log file runs.log: " + refusal) ==
                     !refusal.isEmpty(),
                 qPrintable(run.err));
        QCOMPARE(reader.isOpen() && reader.read(4096).contains("] zqprog: board: 0x00012345 at"),
                 refusal.isEmpty());
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
