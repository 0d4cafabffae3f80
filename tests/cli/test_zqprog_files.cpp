// zqprog judges an operation's FILE before it opens any programmer: bad files against every
// subcommand that takes one (exit 1, its own words, nothing logged, the board untouched), the
// update that is given the other kind of image, and the format it read, named.
#include "BadFiles.h"
#include "ZqprogRun.h"

#include <QElapsedTimer>
#include <QtTest>

#include <sys/resource.h>

using namespace zq::test;

namespace
{

QByteArray hexRecord(int type, int offset, const QByteArray &data)
{
    QByteArray record;
    record.append(char(data.size())).append(char(offset >> 8)).append(char(offset));
    record.append(char(type)).append(data);
    uint8_t sum = 0;
    for (const char c : record)
        sum = uint8_t(sum + uint8_t(c));
    return ':' + record.append(char(uint8_t(0x100 - sum))).toHex().toUpper() + '\n';
}

QByteArray hexEnd()
{
    return hexRecord(1, 0, {});
}

// The image as Intel HEX at the start of flash, written here by hand.
QByteArray hexFile(const QByteArray &image)
{
    QByteArray hex = hexRecord(4, 0, QByteArray("\x08\x00", 2));
    for (int offset = 0; offset < image.size(); offset += 16)
        hex += hexRecord(0, offset, image.mid(offset, 16));
    return hex + hexEnd();
}

} // namespace

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

    // Files a build or a hostile sender can make, through program: refused before any board
    // is touched, in their own words, or programmed as the flat image they make; whatever they
    // hold, reading them costs no more than a small multiple of the image.
    void hostileAndUnusualImages()
    {
        const QByteArray image = WorkFolder::codeImage();
        const QByteArray hex = hexFile(image);
        const QByteArray mib(1 << 20, '\x5A');
        QList<ElfLoad> sameBytes, consecutive;
        for (uint64_t i = 0; i < 3000; ++i) {
            sameBytes << ElfLoad{0, 0x08000000, 1 << 20, 1 << 20};
            consecutive << ElfLoad{0, 0x08000000 + (i << 20), 1 << 20, 1 << 20};
        }
        const QString text = "not an image: a text file that is not Intel HEX or S-record";
        const struct {
            const char *name;
            QByteArray bytes;
            QString refusal; // empty: programmed as `image`
        } rows[] = {
            {"HEX after a byte-order mark", "\xEF\xBB\xBF" + hex, {}},
            {"HEX in lower case", hex.toLower(), {}},
            {"HEX after a comment", "; generated by a tool\n" + hex, text},
            {"S-records in lower case", QByteArray("s00600004844521b\ns9030000fc\n"), text},
            {"plain text", "hello, world\r\n\tgr\xC3\xBC\xC3\x9F\n", text},
            {"HEX after blank lines", "\n \n" + hex,
             "Intel HEX, line 1: blank lines or spaces before the first record"},
            {"HEX start address of 1 byte", hex.left(16) + ":0100000508F2\n" + hex.mid(16),
             "Intel HEX, line 2: a start address record must hold 4 bytes"},
            {"HEX past 32 bits",
             hexRecord(4, 0, "\xFF\xFF") + hexRecord(0, 0xFFF8, image.left(16)) + hexEnd(),
             "Intel HEX, line 2: 16 bytes at 0xFFFFFFF8 end past 0xFFFFFFFF"},
            {"ELF address wrapping past 2^64",
             elfExecutable(true, {{0, 0, 8, 8}, {8, ~uint64_t(0xFF), 0x200, 0x200}},
                           image.left(8 + 0x200)),
             "ELF, segment 1 (program header at offset 0x00000078): 512 bytes at "
             "0xFFFFFFFFFFFFFF00 end past 0xFFFFFFFF"},
            {"ELF of 3000 segments on the same address", elfExecutable(false, sameBytes, mib),
             "ELF, segment 1 (program header at offset 0x00000054): data at 0x08000000 "
             "overlaps data from segment 0 (program header at offset 0x00000034)"},
            {"ELF of 3000 segments one after another", elfExecutable(false, consecutive, mib),
             "ELF, the image spans 0x08000000 to 0xC37FFFFF, more than 16 MiB"},
            {"ELF segment larger in the file than in memory",
             elfExecutable(false, {{0, 0x08000000, 16, 8}}, image.left(16)),
             "ELF, segment 0 (program header at offset 0x00000034) brings 16 bytes from the "
             "file, more than the 8 bytes it occupies"},
        };
        for (const auto &row : rows) {
            WorkFolder work;
            writeAll(work.path("image"), row.bytes);
            const ZqprogRun run = work.run({work.emulated(), "program", "image"});
            if (row.refusal.isEmpty()) {
                QVERIFY2(run.exitCode == 0, qPrintable(QString(row.name) + ": " + run.err));
                QVERIFY2(work.boardFile("target-flash.bin").startsWith(image), row.name);
                continue;
            }
            QVERIFY2(run.exitCode == 1, qPrintable(QString(row.name) + ": " + run.err));
            QVERIFY2(run.errLines().value(0).startsWith("zqprog: image: " + row.refusal),
                     qPrintable(QString(row.name) + ": " + run.err));
            QCOMPARE(work.boardFile("target-flash.bin"), QByteArray());
        }
        // The largest of those runs: 3000 segments once cost 3 GB.
        struct rusage usage {
        };
        QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
        QVERIFY2(usage.ru_maxrss < 1024 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
    }

    // The file is read once, before the board is opened: replaced while the board connects, it
    // changes neither what is sent nor what is reported.
    void anImageReplacedDuringTheRunIsNotRead()
    {
        WorkFolder work;
        const QByteArray first = WorkFolder::codeImage() + QByteArray(4096, '\xA5');
        const QByteArray second = WorkFolder::codeImage() + QByteArray(4096, '\x3C');
        writeAll(work.path("image.bin"), first);
        writeAll(work.path("other.bin"), second);
        writeAll(work.board() + "/faults.ini", "latency K every 700\n");
        QProcess zqprog;
        zqprog.setWorkingDirectory(work.path(""));
        zqprog.setProcessEnvironment(work.environment());
        zqprog.start(ZQPROG_PATH, {work.emulated(), "--json", "program", "image.bin"});
        QByteArray err;
        zqprog.setReadChannel(QProcess::StandardError);
        while (!err.contains("zqprog: image.bin") && zqprog.waitForReadyRead(30000))
            err += zqprog.readAllStandardError();
        QVERIFY2(err.contains("zqprog: image.bin"), err.constData());
        QVERIFY(std::rename(qPrintable(work.path("other.bin")),
                            qPrintable(work.path("image.bin"))) == 0);
        QVERIFY(zqprog.waitForFinished(60000));
        QCOMPARE(zqprog.exitCode(), 0);
        const QByteArray out = zqprog.readAllStandardOutput();
        const QJsonObject result =
            QJsonDocument::fromJson(out.trimmed().split('\n').last()).object();
        QCOMPARE(hex8(uint32_t(result.value("crc").toDouble())), crcText(first));
        QCOMPARE(work.boardFile("target-flash.bin").left(first.size()), first);
    }

    void theFormatReadIsNamedInTextAndJson()
    {
        WorkFolder work;
        const QByteArray image = WorkFolder::codeImage();
        writeAll(work.path("demo.hex"), hexFile(image));
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
