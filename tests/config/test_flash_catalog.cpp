#include "TestFiles.h"
#include "config/FlashCatalog.h"

#include <QElapsedTimer>
#include <QtTest>

#include <climits>
#include <sys/stat.h>

using zq::config::findFlash;
using zq::config::FlashEntry;
using zq::config::parseFlashLine;
using zq::config::parseNumber;

namespace
{

const QByteArray exampleEntry = "0x123456,256,65536,PARTA,";

FlashEntry lookUp(const QByteArray &line, uint32_t flashId)
{
    FlashEntry entry;
    entry.matched = parseFlashLine(line, flashId, &entry);
    return entry;
}

QString writeCatalog(const QTemporaryDir &dir, const QByteArray &content)
{
    const QString path = dir.filePath(QStringLiteral("Flash.ini"));
    if (!writeAll(path, content))
        qFatal("cannot write the test catalogue");
    return path;
}

} // namespace

class FlashCatalogTest : public QObject
{
    Q_OBJECT
private slots:
    void parseNumber_data()
    {
        QTest::addColumn<QByteArray>("collected");
        QTest::addColumn<int>("value");
        QTest::newRow("hex") << QByteArray("0x123456") << 0x123456;
        QTest::newRow("upper X, lower digits") << QByteArray("0Xabcdef") << 0xABCDEF;
        QTest::newRow("any first character") << QByteArray("7x15") << 0x15;
        QTest::newRow("one digit") << QByteArray("0x1") << 1;
        QTest::newRow("prefix only") << QByteArray("0x") << 0;
        QTest::newRow("eight digits") << QByteArray("0x12345678") << 0x12345678;
        QTest::newRow("all ones") << QByteArray("0xFFFFFFFF") << -1;
        QTest::newRow("nine digits") << QByteArray("0x123456789") << 0;
        QTest::newRow("x after prefix counts 0") << QByteArray("0x1x2") << 0x102;
        QTest::newRow("decimal") << QByteArray("1193046") << 1193046;
        QTest::newRow("leading zeros") << QByteArray("00012") << 12;
        QTest::newRow("largest") << QByteArray("2147483647") << INT_MAX;
        QTest::newRow("out of range") << QByteArray("2147483648") << 0;
        QTest::newRow("far out of range") << QByteArray("99999999999999999999") << 0;
        QTest::newRow("hex letters in decimal") << QByteArray("12AB") << 0;
        QTest::newRow("x in first place") << QByteArray("x12") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
    }

    void parseNumber()
    {
        QFETCH(QByteArray, collected);
        QFETCH(int, value);
        QCOMPARE(::parseNumber(collected), int32_t(value));
    }

    void theExampleEntry()
    {
        const FlashEntry entry = lookUp(exampleEntry, 0x123456);
        QVERIFY(entry.matched);
        QCOMPARE(entry.size, 16777216);
        QCOMPARE(entry.name, QStringLiteral("PARTA"));

        FlashEntry untouched;
        untouched.size = 42;
        untouched.name = QStringLiteral("before");
        QVERIFY(!parseFlashLine(exampleEntry, 0x123457, &untouched));
        QCOMPARE(untouched.size, 42);
        QCOMPARE(untouched.name, QStringLiteral("before"));
        QVERIFY(parseFlashLine(exampleEntry, 0x123456, nullptr));
    }

    void writingsOfTheSameEntry()
    {
        const FlashEntry noFinalComma = lookUp("0x123456,256,65536,PARTA", 0x123456);
        QVERIFY(noFinalComma.matched);
        QCOMPARE(noFinalComma.size, 16777216);
        QCOMPARE(noFinalComma.name, QString());

        QVERIFY(lookUp("1193046,256,65536,PARTA,", 0x123456).matched);
        QVERIFY(lookUp("0xabcdef,1,1,L,", 0xABCDEF).matched);

        const FlashEntry spaced = lookUp("0X 12 34 56, 256, 65536, PART A,", 0x123456);
        QVERIFY(spaced.matched);
        QCOMPARE(spaced.size, 16777216);
        QCOMPARE(spaced.name, QStringLiteral("PARTA"));

        const FlashEntry trailing = lookUp(exampleEntry + "ignored,0x99,", 0x123456);
        QCOMPARE(trailing.name, QStringLiteral("PARTA"));
        QCOMPARE(trailing.size, 16777216);
    }

    void theWholeIdIsCompared()
    {
        QVERIFY(!lookUp("0x1123456,256,65536,PARTA,", 0x123456).matched);
        QVERIFY(lookUp("0x1123456,256,65536,PARTA,", 0x1123456).matched);
        QVERIFY(!lookUp("0x000123456,256,65536,PARTA,", 0x123456).matched);
        QVERIFY(lookUp("0x000123456,256,65536,PARTA,", 0).matched); // read as 0
        QVERIFY(lookUp("junk,1,1,J,", 0).matched);
        QVERIFY(!lookUp("junk,1,1,J,", 0x123456).matched);
    }

    void incompleteEntries()
    {
        const FlashEntry oneFactor = lookUp("0x123456,256,", 0x123456);
        QVERIFY(oneFactor.matched);
        QCOMPARE(oneFactor.size, 0);
        QCOMPARE(oneFactor.name, QString());

        const FlashEntry unendedFactor = lookUp("0x123456,256,65536", 0x123456);
        QVERIFY(unendedFactor.matched);
        QCOMPARE(unendedFactor.size, 0);

        QVERIFY(lookUp("0x123456,", 0x123456).matched);
        QVERIFY(!lookUp("0x123456", 0x123456).matched);
        // No complete id field: nothing matches, not even the id 0 a blank field would give.
        for (const QByteArray &line :
             {QByteArray(), QByteArray("[FLASH]"), QByteArray("   "), QByteArray("; comment")})
            QVERIFY2(!lookUp(line, 0).matched, line.constData());
    }

    void sizeIsThe32BitProduct()
    {
        QCOMPARE(lookUp("0x1,0x10,0x10,", 1).size, 256);
        QCOMPARE(lookUp("0x1,-3,5,", 1).size, 15); // signs are not number characters
        QCOMPARE(lookUp("0x1,65536,32768,", 1).size, INT_MIN);
        QCOMPARE(lookUp("0x1,65536,65536,", 1).size, 0);
        QCOMPARE(lookUp("0x1,0xFFFFFFFF,0xFFFFFFFF,", 1).size, 1);
        // The product itself, which tells that the shown size is not the flash's.
        QCOMPARE(lookUp("0x1,0x10,0x10,", 1).fullSize, int64_t(256));
        QCOMPARE(lookUp("0x1,65536,65536,", 1).fullSize, int64_t(1) << 32);
        QCOMPARE(lookUp("0x1,0xFFFFFFFF,5,", 1).fullSize, int64_t(-5));
    }

    void nameKeepsPrintableAsciiOnly()
    {
        const FlashEntry entry = lookUp("0x1,1,1,\tP\xE9"
                                        "A\x7F R\x01T\xFF~,",
                                        1);
        QCOMPARE(entry.name, QStringLiteral("PA\x7FRT~"));
        const FlashEntry highId = lookUp("0x\xC2\xB2"
                                         "1,1,1,N,",
                                         1);
        QVERIFY(highId.matched);
    }

    void veryLongFields()
    {
        const QByteArray longHex = "0x" + QByteArray(1000000, 'F');
        QVERIFY(lookUp(longHex + ",1,1,N,", 0).matched);
        const QByteArray longDecimal = QByteArray(100000, '0') + "1193046";
        QVERIFY(lookUp(longDecimal + ",1,1,N,", 0x123456).matched);
        QVERIFY(lookUp(QByteArray(100000, '9') + ",1,1,N,", 0).matched);
        const QByteArray longName(1000000, 'N');
        QCOMPARE(lookUp("0x1,1,1," + longName + ",", 1).name.size(), longName.size());
        QVERIFY(!lookUp(QByteArray(1000000, ' '), 0).matched);
    }

    void catalogueFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = writeCatalog(dir, "[FLASH]\r\n"
                                               " [FLASH]\r\n"
                                               "\r\n"
                                               "0xEF4018,256,65536,FIRST,\r\n"
                                               "0xEF4018,128,65536,SECOND,\r\n"
                                               "[FLASH],0,\r\n"
                                               "0x00C84017,128,65536,LAST,");
        const FlashEntry first = findFlash(path, 0xEF4018);
        QVERIFY(first.matched);
        QCOMPARE(first.name, QStringLiteral("FIRST"));
        QCOMPARE(first.size, 16777216);

        const FlashEntry last = findFlash(path, 0xC84017);
        QVERIFY(last.matched);
        QCOMPARE(last.name, QStringLiteral("LAST"));
        QCOMPARE(last.size, 8388608);

        // Neither header form nor the empty line is an entry with an id of 0.
        QVERIFY(!findFlash(path, 0).matched);

        const FlashEntry none = findFlash(path, 0x123456);
        QVERIFY(!none.matched);
        QCOMPARE(none.size, 0);
        QCOMPARE(none.name, QString());
    }

    void headerGivesSameResultsAsEntriesAlone()
    {
        QTemporaryDir withHeader, without;
        const QByteArray entries = "0xC22017,128,65536,A,\n0x9D6018,256,65536,B,\n";
        const QString a = writeCatalog(withHeader, "[FLASH]\n" + entries);
        const QString b = writeCatalog(without, entries);
        for (uint32_t id : {0xC22017u, 0x9D6018u, 0u, 0x123456u}) {
            const FlashEntry x = findFlash(a, id);
            const FlashEntry y = findFlash(b, id);
            QCOMPARE(x.matched, y.matched);
            QCOMPARE(x.size, y.size);
            QCOMPARE(x.name, y.name);
        }
    }

    void missingOrUnreadableCatalogue()
    {
        QTemporaryDir dir;
        QVERIFY(!findFlash(dir.filePath(QStringLiteral("Flash.ini")), 0).matched);
        QVERIFY(!findFlash(dir.path(), 0).matched); // a folder, not a file
        QVERIFY(!findFlash(QString(), 0).matched);
        // Neither a FIFO without a writer (which would block the read for good) nor a device.
        const QString fifo = dir.filePath(QStringLiteral("fifo.ini"));
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!findFlash(fifo, 0).matched);
        QVERIFY(!findFlash(QStringLiteral("/dev/zero"), 0).matched);
        QVERIFY(clock.elapsed() < 5000);
    }

    void catalogueLivesInTheWorkingDirectory()
    {
        QTemporaryDir dir;
        writeCatalog(dir, exampleEntry + "\n");
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const FlashEntry entry = findFlash(zq::config::flashCatalogPath(), 0x123456);
        QDir::setCurrent(previous);
        QVERIFY(entry.matched);
        QCOMPARE(entry.name, QStringLiteral("PARTA"));
    }

    void sampleCatalogue()
    {
        const QString path = QStringLiteral(ZQ_SAMPLE_CATALOG);
        QCOMPARE(findFlash(path, 0xEF4018).size, 16 * 1024 * 1024);
        QCOMPARE(findFlash(path, 0xC84017).size, 8 * 1024 * 1024);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QVERIFY(file.readLine().startsWith("[FLASH]"));
        QSet<int32_t> ids;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine().trimmed();
            const int32_t id = ::parseNumber(line.left(line.indexOf(',')));
            QVERIFY2(id > 0 && id <= 0xFFFFFF, line.constData());
            QVERIFY2(!ids.contains(id), line.constData());
            ids.insert(id);
            const FlashEntry entry = findFlash(path, uint32_t(id));
            QVERIFY2(entry.size > 0 && !entry.name.isEmpty(), line.constData());
        }
        QVERIFY(ids.size() >= 12);
    }
};

QTEST_APPLESS_MAIN(FlashCatalogTest)
#include "test_flash_catalog.moc"
