#include "TestFiles.h"
#include "records/Job.h"

#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using namespace zq::records;

namespace
{

#define SHA "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"
const QByteArray kSha = SHA;

// A program job with a counter that runs over the whole 4-byte field.
const QByteArray kJob = "zq-job 1\n"
                        "name = Line A controller\n"
                        "image = fw/app.hex\n"
                        "image.sha256 = " SHA "\n"
                        "image.crc32 = 0x1a\n"
                        "image.length = 4096\n"
                        "image.format = Intel HEX\n"
                        "operation = program\n"
                        "serial.address = 0x08000100\n"
                        "serial.length = 4\n"
                        "serial.encoding = le\n";

QByteArray replaced(QByteArray text, const QByteArray &from, const QByteArray &to)
{
    return text.replace(from, to);
}

JobRead readText(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name);
    return writeAll(path, text) ? readJobFile(path) : JobRead{std::nullopt, "not written"};
}

} // namespace

class JobFileTest : public QObject
{
    Q_OBJECT
private slots:
    void writtenJobReadsBackWithItsHash()
    {
        QTemporaryDir dir;
        const JobRead read = readText(dir, "a.zqjob", kJob);
        QVERIFY2(read.job, qPrintable(read.error));
        const Job &job = *read.job;
        QCOMPARE(job.imageCrc, 0x1Au);
        QCOMPARE(job.imagePath(), dir.filePath("fw/app.hex"));
        QCOMPARE(job.serial->series, job.name);
        QCOMPARE(job.serial->last, quint64(0xFFFFFFFF));
        QCOMPARE(job.serial->count(), qint64(0xFFFFFFFF));
        QVERIFY(job.canonicalText().startsWith("zq-job 1\nname=Line A controller\nrevision=\n"));
        QVERIFY(job.canonicalText().contains("\nimage.crc32=0x0000001A\n"));
        QVERIFY(job.canonicalText().contains("\nspeed=high\npower-off=yes\n"));
        QVERIFY(job.canonicalText().endsWith("\nserial.step=1\nserial.last=4294967295\n"));

        const JobRead again = readText(dir, "b.zqjob", jobFileText(job));
        QVERIFY2(again.job, qPrintable(again.error));
        QCOMPARE(again.job->hash(), job.hash());

        // The same job said otherwise: comments, CRLF, another order, other number forms.
        QByteArray other = replaced(kJob, "zq-job 1\n", "# made by hand\r\nzq-job   1\r\n\r\n");
        other = replaced(other, "image.crc32 = 0x1a", "image.crc32=26");
        other = replaced(other, "serial.address = 0x08000100", "serial.address = 134217984");
        other = replaced(other, "operation = program\n", "");
        other += "serial.last = 0xFFFFFFFF\r\n  operation   =   program  \nspeed = high\n";
        other = replaced(other, kSha, kSha.toUpper());
        const JobRead same = readText(dir, "c.zqjob", other);
        QVERIFY2(same.job, qPrintable(same.error));
        QCOMPARE(same.job->hash(), job.hash());
        QCOMPARE(same.job->imageSha256, QString(kSha));

        const JobRead changed = readText(dir, "d.zqjob", replaced(kJob, "4096", "4097"));
        QVERIFY(changed.job && changed.job->hash() != job.hash());

        Job download = job;
        download.operation = JobOperation::Download;
        download.mcuType = "ZQ427";
        QVERIFY(jobProblem(job).isEmpty());
        QVERIFY(jobProblem(download).contains("a download job cannot carry serial numbers"));
    }

    void malformedFileIsRefused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        const QByteArray list = "serial.list = n.txt\nserial.list.sha256 = " + kSha + "\n";
        QTest::newRow("unknown key") << kJob + "colour = red\n"
                                     << ":12: unknown key 'colour'";
        QTest::newRow("duplicate") << kJob + "name = B\n"
                                   << ":12: name is given again (first on line 2)";
        QTest::newRow("version") << replaced(kJob, "zq-job 1", "zq-job 2")
                                 << ":1: a job file of version 2; this zqprog reads version 1";
        QTest::newRow("no sha256") << replaced(kJob, "image.sha256 =", "# ") << ": no image.sha256";
        QTest::newRow("download") << replaced(kJob, "operation = program",
                                              "operation = download\nmcu = ZQ427")
                                  << ": a download job cannot carry serial numbers";
        QTest::newRow("counter and list")
            << kJob + "serial.start = 5\n" + list
            << ":13: serial.list cannot go with serial.start (line 12)";
        QTest::newRow("length 9 le") << replaced(kJob, "length = 4", "length = 9")
                                     << ": serial.length must be 1 to 8 for le, not 9";
        QTest::newRow("speed") << kJob + "speed = fast\n"
                               << ":12: speed must be high, middle or low, not 'fast'";
        QTest::newRow("no =") << kJob + "speed high\n"
                              << ":12: expected 'key = value'";
        QTest::newRow("start above last") << kJob + "serial.start = 9\nserial.last = 0x5\n"
                                          << ": serial.start 9 is above serial.last 5";
        QTest::newRow("short sha")
            << replaced(kJob, kSha, "abc") << ":4: image.sha256 must be 64 hex digits, not 'abc'";
    }

    void malformedFileIsRefused()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const JobRead read = readText(dir, "line.zqjob", text);
        QVERIFY(!read.job);
        QVERIFY2(read.error.startsWith(dir.filePath("line.zqjob") + message),
                 qPrintable(read.error));
    }

    void serialIsEncodedAndPatched()
    {
        SerialPolicy policy;
        const auto bytes = [&](SerialEncoding encoding, int length, quint64 value) {
            policy.encoding = encoding;
            policy.length = length;
            return encodeSerial(policy, value, nullptr).value_or("refused");
        };
        QCOMPARE(bytes(SerialEncoding::LittleEndian, 4, 0x01020304), QByteArray("\4\3\2\1"));
        QCOMPARE(bytes(SerialEncoding::BigEndian, 3, 0x010203), QByteArray("\1\2\3"));
        QCOMPARE(bytes(SerialEncoding::AsciiDecimal, 6, 42), QByteArray("000042"));
        QCOMPARE(bytes(SerialEncoding::AsciiHex, 4, 0xab), QByteArray("00AB"));
        QCOMPARE(serialText(policy, 0xab), QString("00AB"));
        QCOMPARE(bytes(SerialEncoding::AsciiHex, 3, 0x1000), QByteArray("refused"));
        QCOMPARE(bytes(SerialEncoding::AsciiDecimal, 20, std::numeric_limits<quint64>::max()),
                 QByteArray::number(std::numeric_limits<quint64>::max()));
        policy.start = 0;
        QCOMPARE(policy.count(), std::numeric_limits<qint64>::max()); // 20 digits: 2^64 numbers
        QString error;
        policy.encoding = SerialEncoding::LittleEndian;
        policy.length = 1;
        QVERIFY(!encodeSerial(policy, 256, &error));
        QCOMPARE(error, QString("serial 256 does not fit 1 bytes as le"));

        policy.start = 3;
        policy.step = 2;
        policy.last = 9;
        QCOMPARE(policy.count(), qint64(4));
        QCOMPARE(policy.valueAt(3), quint64(9));

        QByteArray image(16, '\xFF');
        policy.address = 0x0800000C;
        policy.length = 4;
        policy.encoding = SerialEncoding::BigEndian;
        QCOMPARE(patchSerial(image, 0x08000000, policy, 0xA1B2C3D4), QString());
        QCOMPARE(image, QByteArray(12, '\xFF') + "\xA1\xB2\xC3\xD4");
        policy.address = 0x0800000D;
        QCOMPARE(patchSerial(image, 0x08000000, policy, 1),
                 QString("the serial's field 0x0800000D+4 lies outside the image (0x08000000 to "
                         "0x0800000F)"));
        policy.address = 0x07FFFFFF;
        QVERIFY(patchSerial(image, 0x08000000, policy, 1).contains("outside the image"));
        QCOMPARE(image.right(4), QByteArray("\xA1\xB2\xC3\xD4"));
    }

    void serialListIsPinnedAndChecked()
    {
        QTemporaryDir dir;
        const QString listPath = dir.filePath("nums.txt");
        const QByteArray numbers = "# serials\r\n1000\r\n0x3E9\r\n\r\n1002\n";
        QVERIFY(writeAll(listPath, numbers));
        const QByteArray pin = sha256Hex(numbers).toLatin1();
        const QByteArray job = kJob + "serial.list = nums.txt\nserial.list.sha256 = " + pin + "\n";
        const JobRead read = readText(dir, "list.zqjob", job);
        QVERIFY2(read.job, qPrintable(read.error));
        QCOMPARE(read.job->serial->listed, QList<quint64>({1000, 1001, 1002}));
        QCOMPARE(read.job->serial->valueAt(1), quint64(1001));
        QVERIFY(read.job->canonicalText().endsWith("=nums.txt\nserial.list.sha256=" + pin + "\n"));

        QVERIFY(writeAll(listPath, "1000\n1001\n"));
        QCOMPARE(readText(dir, "list.zqjob", job).error, listPath + ": its SHA-256 is " +
                                                             sha256Hex("1000\n1001\n") +
                                                             ", the job pins " + pin);

        const QByteArray repeated = "5\n7\n0x5\n";
        QVERIFY(writeAll(listPath, repeated));
        const JobRead twice =
            readText(dir, "list.zqjob", replaced(job, pin, sha256Hex(repeated).toLatin1()));
        QCOMPARE(twice.error, listPath + ":3: 0x5 is listed again (first on line 1)");
    }
};

QTEST_GUILESS_MAIN(JobFileTest)
#include "test_job_file.moc"
