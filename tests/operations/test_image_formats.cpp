// Intel HEX, S-record and ELF files as developers' tools make them: each becomes the same
// flat image that `objcopy -O binary --gap-fill 0xff` makes of it, byte for byte; a malformed
// file is refused with its line or offset, never taken in part.
#include "OperationRig.h"
#include "operations/ImageFile.h"
#include "operations/Operations.h"

#include <QProcess>
#include <QtTest>

using namespace zq::test;
using zq::ops::ImageFormat;
using zq::ops::LoadedImage;

namespace
{

// The tools are found when the build is configured (tools/install-deps.sh installs them).
bool run(const QString &tool, const QStringList &arguments, const QString &folder)
{
    if (tool.isEmpty() || tool.endsWith("-NOTFOUND")) {
        qWarning("a binutils program is missing: run tools/install-deps.sh");
        return false;
    }
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(tool, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning("%s %s: %s", qPrintable(tool), qPrintable(arguments.join(' ')),
                 process.readAllStandardError().constData());
        return false;
    }
    return true;
}

// A small ARM program: vectors and code in flash, .data stored after the code (its load address
// is not its run address), a block of constants further on, and padding between sections.
const char kArmSource[] = R"(
    .section .vectors,"a"
    .word 0x20001000, 0x08000145
    .section .text,"ax"
    .fill 301, 1, 0x5A
    .section .rodata,"a"
    .balign 16
    .ascii "rodata after padding"
    .section .data,"aw"
    .word 0x11223344, 0x55667788
    .section .bss,"aw",%nobits
    .space 64
    .section .cfg,"a"
    .ascii "CONFIG"
)";

const char kArmScript[] = R"(
MEMORY { FLASH (rx) : ORIGIN = 0x08000000, LENGTH = 64K
         RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 8K }
SECTIONS {
  .text : { KEEP(*(.vectors)) *(.text) *(.rodata) } > FLASH
  .data : { *(.data) } > RAM AT > FLASH
  .bss : { *(.bss) } > RAM
  .cfg 0x08001000 : { *(.cfg) } > FLASH
}
)";

// The host's own 64-bit ELF, laid at the region of 0x10000000.
const char kHostSource[] = R"(
    .section .text,"ax"
    .quad 0x1000014520001000
    .fill 99, 1, 0x90
    .section .cfg,"a"
    .ascii "CFG64"
)";
const char kHostScript[] = "SECTIONS { .text 0x10000000 : { *(.text) } "
                           ".cfg 0x10000800 : { *(.cfg) } }";

struct Sample {
    QString file;
    ImageFormat format;
    uint32_t base;
};

// Every sample the binutils make, from a raw image and from the two ELF programs.
QList<Sample> makeSamples(const QString &dir)
{
    const QString objcopy = ZQ_OBJCOPY, armObjcopy = ZQ_ARM_OBJCOPY;
    QFile raw(dir + "/raw.bin");
    if (!raw.open(QIODevice::WriteOnly) || raw.write(codeImage(6000)) != 6000)
        return {};
    raw.close();
    writeAll(dir + "/arm.s", kArmSource);
    writeAll(dir + "/arm.ld", kArmScript);
    writeAll(dir + "/host.s", kHostSource);
    writeAll(dir + "/host.ld", kHostScript);
    const bool made = run(objcopy,
                          {"-I", "binary", "-O", "ihex", "--change-addresses", "0x08000000",
                           "raw.bin", "raw.hex"},
                          dir) &&
                      run(objcopy,
                          {"-I", "binary", "-O", "srec", "--change-addresses", "0x08000000",
                           "raw.bin", "raw.s37"},
                          dir) &&
                      run(objcopy,
                          {"-I", "binary", "-O", "srec", "--srec-forceS3", "--change-addresses",
                           "0x10000000", "raw.bin", "raw10.srec"},
                          dir) &&
                      run(objcopy, {"-I", "binary", "-O", "srec", "raw.bin", "raw0.s19"}, dir) &&
                      run(ZQ_ARM_AS, {"-o", "arm.o", "arm.s"}, dir) &&
                      run(ZQ_ARM_LD, {"-T", "arm.ld", "-o", "arm.elf", "arm.o"}, dir) &&
                      run(ZQ_ARM_AS, {"-EB", "-o", "armbe.o", "arm.s"}, dir) &&
                      run(ZQ_ARM_LD, {"-EB", "-T", "arm.ld", "-o", "armbe.elf", "armbe.o"}, dir) &&
                      run(armObjcopy, {"-O", "ihex", "arm.elf", "arm.hex"}, dir) &&
                      run(armObjcopy, {"-O", "srec", "arm.elf", "arm.srec"}, dir) &&
                      run(ZQ_HOST_AS, {"-o", "host.o", "host.s"}, dir) &&
                      run(ZQ_HOST_LD, {"-T", "host.ld", "-o", "host.elf", "host.o"}, dir);
    if (!made)
        return {};
    return {{"raw.hex", ImageFormat::IntelHex, 0x08000000},
            {"raw.s37", ImageFormat::SRecord, 0x08000000},
            {"raw10.srec", ImageFormat::SRecord, 0x10000000},
            {"raw0.s19", ImageFormat::SRecord, 0},
            {"arm.elf", ImageFormat::Elf, 0x08000000},
            {"armbe.elf", ImageFormat::Elf, 0x08000000},
            {"arm.hex", ImageFormat::IntelHex, 0x08000000},
            {"arm.srec", ImageFormat::SRecord, 0x08000000},
            {"host.elf", ImageFormat::Elf, 0x10000000}};
}

// objcopy's flat image of the same file.
QByteArray objcopyFlat(const QString &dir, const Sample &sample)
{
    const bool elf = sample.format == ImageFormat::Elf;
    const QString tool = sample.file.startsWith("host") ? QString(ZQ_OBJCOPY) : ZQ_ARM_OBJCOPY;
    QStringList arguments;
    if (!elf)
        arguments << "-I" << (sample.format == ImageFormat::IntelHex ? "ihex" : "srec");
    arguments << "-O"
              << "binary"
              << "--gap-fill"
              << "0xff" << sample.file << "flat.bin";
    QFile::remove(dir + "/flat.bin");
    return run(tool, arguments, dir) ? readAll(dir + "/flat.bin") : QByteArray();
}

LoadedImage loadText(const QString &dir, const QByteArray &text)
{
    writeAll(dir + "/sample", text);
    return zq::ops::loadCodeImage(dir + "/sample");
}

} // namespace

class ImageFormatsTest : public QObject
{
    Q_OBJECT
private slots:
    void everyFormatGivesObjcopysFlatImage()
    {
        QTemporaryDir dir;
        const QList<Sample> samples = makeSamples(dir.path());
        QVERIFY2(!samples.isEmpty(), "the samples could not be made with binutils");
        for (const Sample &sample : samples) {
            const LoadedImage image = zq::ops::loadCodeImage(dir.filePath(sample.file));
            QVERIFY2(image.status == LoadedImage::Status::Ready,
                     qPrintable(sample.file + ": " + image.reason()));
            QCOMPARE(image.format, sample.format);
            QCOMPARE(image.base, sample.base);
            const QByteArray expected = objcopyFlat(dir.path(), sample);
            QVERIFY2(!expected.isEmpty(), qPrintable(sample.file));
            QVERIFY2(image.bytes == expected, qPrintable(sample.file + " differs from objcopy"));
        }
        // The raw image's text forms give the raw image back; the ELF program's padding and
        // gaps are 0xFF, .data follows the code, .bss is not in it.
        QCOMPARE(zq::ops::loadCodeImage(dir.filePath("raw.hex")).bytes, codeImage(6000));
        const QByteArray arm = zq::ops::loadCodeImage(dir.filePath("arm.elf")).bytes;
        QCOMPARE(arm.size(), 0x1006);
        QVERIFY(arm.contains("rodata after padding"));
        QVERIFY(arm.contains(QByteArray::fromHex("4433221188776655")));
        QVERIFY(arm.endsWith("CONFIG"));
    }

    void theFormatIsNamedByContentNotByName()
    {
        QTemporaryDir dir;
        QVERIFY(!makeSamples(dir.path()).isEmpty());
        QVERIFY(QFile::copy(dir.filePath("raw.hex"), dir.filePath("looks.bin")));
        const LoadedImage image = zq::ops::loadCodeImage(dir.filePath("looks.bin"));
        QCOMPARE(zq::ops::imageDescription("looks.bin", image),
                 QString("looks.bin: Intel HEX, 6000 bytes from 0x08000000"));
        const LoadedImage raw = zq::ops::loadCodeImage(dir.filePath("raw.bin"));
        QCOMPARE(zq::ops::imageDescription("raw.bin", raw),
                 QString("raw.bin: raw binary, 6000 bytes"));
        // Update images are always raw: a HEX file is written as it is.
        QCOMPARE(zq::ops::loadRawImage(dir.filePath("raw.hex")).format, ImageFormat::Raw);
    }

    void malformedRecordsAreRefusedWithTheirLine_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("problem");
        const QByteArray data = ":020000040800F2\n:04000000AABBCCDDEE\n";
        QTest::newRow("HEX checksum") << QByteArray(data + ":04001000AABBCCDDEF\n:00000001FF\n")
                                      << "Intel HEX, line 3: bad checksum";
        QTest::newRow("HEX length") << QByteArray(data + ":05001000AABBCCDDEE\n:00000001FF\n")
                                    << "Intel HEX, line 3: the record's length does not match";
        QTest::newRow("HEX character") << QByteArray(data + ":04001000AABBCCDDEG\n:00000001FF\n")
                                       << "Intel HEX, line 3: not an Intel HEX record";
        QTest::newRow("HEX type") << QByteArray(data + ":00000006FA\n:00000001FF\n")
                                  << "Intel HEX, line 3: unknown record type 6";
        QTest::newRow("HEX cut off") << data << "Intel HEX, no end-of-file record";
        QTest::newRow("HEX overlap")
            << QByteArray(data + "\n:04000200AABBCCDDEC\n:00000001FF\n")
            << "Intel HEX, line 4: data at 0x08000002 overlaps data from line 2";
        QTest::newRow("HEX elsewhere")
            << QByteArray(":020000040800F2\n:04040000AABBCCDDEA\n:00000001FF\n")
            << "Intel HEX, the image starts at 0x08000400 (line 2); it must start at "
               "0x08000000, 0x10000000 or 0";
        QTest::newRow("HEX beyond 16 MiB")
            << QByteArray(data + ":020000040900F1\n:040001001122334451\n:00000001FF\n")
            << "Intel HEX, the image spans 0x08000000 to 0x09000004, more than 16 MiB";
        const QByteArray s3 = "S00600004844521B\nS309080000001122334444\n";
        QTest::newRow("S-record checksum")
            << QByteArray(s3 + "S30908000004112233443F\nS70508000000F2\n")
            << "Motorola S-record, line 3: bad checksum";
        QTest::newRow("S-record count")
            << QByteArray(s3 + "S5030002FA\nS70508000000F2\n")
            << "Motorola S-record, line 3: the count record says 2 data records, the file has 1";
        QTest::newRow("S-record type") << QByteArray(s3 + "S4030000FC\n")
                                       << "Motorola S-record, line 3: unknown record type S4";
        QTest::newRow("S-record cut off") << s3 << "Motorola S-record, no end record";
        QTest::newRow("S-record length") << QByteArray(s3 + "S30A0800000411223344D9\n")
                                         << "Motorola S-record, line 3: the record's length";
    }

    void malformedRecordsAreRefusedWithTheirLine()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        const LoadedImage image = loadText(dir.path(), text);
        QCOMPARE(image.status, LoadedImage::Status::Refused);
        QVERIFY2(image.reason().startsWith(problem), qPrintable(image.reason()));
        QVERIFY(image.bytes.isEmpty());
    }

    void badElfFilesAreRefusedWithTheirOffset()
    {
        QTemporaryDir dir;
        QVERIFY(!makeSamples(dir.path()).isEmpty());
        const QByteArray elf = readAll(dir.filePath("arm.elf"));
        const struct {
            const char *name;
            QByteArray bytes;
            const char *problem;
        } cases[] = {
            {"object file", readAll(dir.filePath("arm.o")),
             "ELF, offset 0x00000010: ELF type 1, not an executable"},
            {"cut in its segments", elf.left(0x1080),
             "ELF, segment 0 (program header at offset 0x00000034): its bytes at offset "
             "0x00001000 lie past the end of the file"},
            {"cut in its header", elf.left(30), "ELF, the ELF header is cut short"},
            {"bad class", QByteArray(elf).replace(4, 1, "\x07"),
             "ELF, offset 0x00000004: not a valid ELF class or byte order"},
        };
        for (const auto &c : cases) {
            writeAll(dir.filePath("bad.elf"), c.bytes);
            const LoadedImage image = zq::ops::loadCodeImage(dir.filePath("bad.elf"));
            QVERIFY2(image.status == LoadedImage::Status::Refused, c.name);
            QVERIFY2(image.reason().startsWith(c.problem), qPrintable(image.reason()));
        }
    }

    // The operations see the flat image: its CRC and length, and its entry address.
    void anOperationWritesTheFlatImage()
    {
        QTemporaryDir dir;
        QVERIFY(!makeSamples(dir.path()).isEmpty());
        OperationRig rig;
        rig.frontEnd.codePath = dir.filePath("arm.hex");
        QCOMPARE(zq::ops::programTargetOperation(rig.session), 0);
        const QByteArray flat = objcopyFlat(dir.path(), {"arm.elf", ImageFormat::Elf, 0});
        QCOMPARE(rig.session.state.mcuCodeLength, flat.size());
        QCOMPARE(toByteArray(rig.board->readTargetFlash(0, uint32_t(flat.size()))), flat);

        rig.frontEnd.log.clear();
        rig.frontEnd.openFileAnswers << dir.filePath("arm.elf");
        zq::ops::inputMcuCode(rig.session);
        QCOMPARE(rig.frontEnd.log, (QStringList{"arm.elf: ELF, 4102 bytes from 0x08000000",
                                                "enter_Addr:0x08000145"}));
    }

    void aMalformedFileStopsTheOperationWithItsReason()
    {
        OperationRig rig;
        rig.frontEnd.mcuType = 3;
        rig.frontEnd.codePath = rig.writeFile("bad.hex", ":0400000008000000F3\n");
        QCOMPARE(zq::ops::downloadToProgrammer(rig.session), zq::ops::kInputRefused);
        QCOMPARE(rig.frontEnd.boxes.size(), 1);
        QCOMPARE(rig.frontEnd.boxes[0].text, QString("bad.hex: Intel HEX, line 1: bad checksum"));
        QCOMPARE(rig.frontEnd.log, QStringList{rig.frontEnd.codePath});
        QCOMPARE(rig.frontEnd.processEventsCalls, 0);
    }
};

QTEST_GUILESS_MAIN(ImageFormatsTest)
#include "test_image_formats.moc"
