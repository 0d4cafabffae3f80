// zqprog judges an operation's FILE before it opens any programmer: bad files against every
// subcommand that takes one (exit 1, its own words, nothing logged, the board untouched), the
// update that is given the other kind of image, and the format it read, named.
#include "BadFiles.h"
#include "ZqprogRun.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace zq::test;

class ZqprogFilesTest : public QObject
{
    Q_OBJECT
private slots:
    void badFilesAgainstEverySubcommand()
    {
        const QList<QStringList> commands = {{"download", "--mcu", "ZQ318"},
                                             {"check"},
                                             {"program"},
                                             {"verify"},
                                             {"update-app"},
                                             {"update-boot", "--allow-boot-update"}};
        for (const BadFile &bad : badFiles()) {
            for (const QStringList &command : commands) {
                const QString row = QString(bad.name) + " / " + command.first();
                WorkFolder work;
                const QString file = makeBadFile(bad.kind, work.path(""), "image", "/dev/stdin");
                QVERIFY2(!file.isEmpty(), qPrintable(row));
                QStringList arguments{work.emulated(), command.first(), file};
                arguments += command.mid(1);
                QElapsedTimer clock;
                clock.start();
                const ZqprogRun run = work.run(arguments);
                QVERIFY2(clock.elapsed() < 5000, qPrintable(row + ": took too long"));
                QVERIFY2(run.exitCode == 1, qPrintable(row + ": " + run.err));
                QVERIFY2(run.out.isEmpty(), qPrintable(row + ": " + run.out.join('|')));
                const QString expected =
                    "zqprog: " + file + (bad.readable ? " " : ": ") + bad.reason;
                QVERIFY2(run.errLines() == QStringList{expected}, qPrintable(row + ": " + run.err));
                QCOMPARE(work.boardFile("spi-flash.bin"), QByteArray());
                QCOMPARE(work.boardFile("target-flash.bin"), QByteArray());
                QCOMPARE(work.boardFile("app.bin"), QByteArray());
            }
        }
    }

    // Nothing in an image tells an application from a boot loader; the window's dialogs show
    // each update only its own kind of file, and zqprog goes by the same names.
    void eachUpdateRefusesTheOtherKindOfImage()
    {
        WorkFolder work;
        const ZqprogRun boot =
            work.run({work.emulated(), "update-boot", "demo.app", "--allow-boot-update"});
        QCOMPARE(boot.exitCode, 1);
        QCOMPARE(boot.out, QStringList());
        QVERIFY2(boot.err.contains("demo.app is named as an application image (.app); use "
                                   "update-app"),
                 qPrintable(boot.err));
        work.setBoard("mode=mcu-update\n");
        const ZqprogRun app = work.run({work.emulated(), "update-app", "demo.boot"});
        QCOMPARE(app.exitCode, 1);
        QVERIFY2(app.err.contains("demo.boot is named as a boot loader image (.boot)"),
                 qPrintable(app.err));
        QCOMPARE(work.boardFile("app.bin"), QByteArray());
        QCOMPARE(work.boardFile("boot.bin"), QByteArray());
    }

    void anImageTooLargeForTheProgrammersFlashIsRefused()
    {
        WorkFolder work;
        work.setBoard("mode=mcu-update\n");
        writeAll(work.path("big.app"), QByteArray((1 << 20) + 1, '\x01'));
        const ZqprogRun run = work.run({work.emulated(), "update-app", "big.app"});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.errLines(), QStringList{"zqprog: big.app: The image is 1048577 bytes; the "
                                             "programmer's own flash holds at most 1048576 bytes"});
    }

    void theFormatReadIsNamedInTextAndJson()
    {
        WorkFolder work;
        // The demo image as Intel HEX at the start of flash, written here by hand.
        const QByteArray image = WorkFolder::codeImage();
        QByteArray hex = ":020000040800F2\n";
        for (int offset = 0; offset < image.size(); offset += 16) {
            QByteArray record;
            const QByteArray chunk = image.mid(offset, 16);
            record.append(char(chunk.size())).append(char(offset >> 8)).append(char(offset));
            record.append('\0').append(chunk);
            uint8_t sum = 0;
            for (const char c : record)
                sum = uint8_t(sum + uint8_t(c));
            record.append(char(uint8_t(0x100 - sum)));
            hex += ':' + record.toHex().toUpper() + '\n';
        }
        writeAll(work.path("demo.hex"), hex + ":00000001FF\n");
        const QString description = "demo.hex: Intel HEX, " + QString::number(image.size()) +
                                    " bytes from 0x08000000, CRC " + crcText(image);

        const ZqprogRun text = work.run({work.emulated(), "program", "demo.hex"});
        QCOMPARE(text.exitCode, 0);
        QCOMPARE(text.errLines(), QStringList{"zqprog: " + description});
        QVERIFY(work.boardFile("target-flash.bin").startsWith(image));

        const ZqprogRun json = work.run({work.emulated(), "--json", "verify", "demo.hex"});
        QCOMPARE(json.exitCode, 0);
        const QJsonObject result = jsonLines(json).last();
        QCOMPARE(result.value("file").toString(), QString("demo.hex"));
        QCOMPARE(result.value("format").toString(), QString("Intel HEX"));
        QCOMPARE(result.value("length").toInt(), image.size());
        QCOMPARE(result.value("base").toDouble(), double(0x08000000));
        QCOMPARE(zq::toHexText(uint32_t(result.value("crc").toDouble()), 8), crcText(image));
    }

    void anUnreadableStateFileOfTheEmulatorIsAClearError()
    {
        WorkFolder work;
        const QString fifo = work.path("board/spi-flash.bin");
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QElapsedTimer clock;
        clock.start();
        const ZqprogRun run = work.run({work.emulated(), "info"});
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("cannot read the emulated programmer's state: " + fifo +
                                  " is not a regular file"),
                 qPrintable(run.err));
        QVERIFY(!QFileInfo(fifo).isFile()); // not replaced
    }
};

QTEST_GUILESS_MAIN(ZqprogFilesTest)
#include "test_zqprog_files.moc"
