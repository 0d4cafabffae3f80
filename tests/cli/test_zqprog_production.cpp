// A production line over jobs, serial numbers and the record store, as a line runs it: real
// zqprog processes on emulated boards, against an SQLite file and a private PostgreSQL server.

#include "PrivatePostgres.h"
#include "ZqprogRun.h"

#include <QJsonArray>
#include <QProcess>
#include <QSet>
#include <QtTest>

#include <algorithm>
#include <csignal>

using namespace zq::test;

namespace
{

constexpr int kSerialOffset = 0x200; // a raw image starts at address 0
constexpr uint kFirstSerial = 1000;

QJsonObject resultOf(const ZqprogRun &run)
{
    const QList<QJsonObject> lines = jsonLines(run);
    return lines.isEmpty() ? QJsonObject() : lines.last();
}

// Reads the process's stdout into seen until it holds text; false when it ends first.
bool waitForText(QProcess &process, const QByteArray &text, QByteArray &seen)
{
    QElapsedTimer clock;
    clock.start();
    while (!seen.contains(text) && clock.elapsed() < 20000 &&
           process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        seen += process.readAllStandardOutput();
    }
    if (!seen.contains(text))
        qWarning() << seen << process.readAllStandardError();
    return seen.contains(text);
}

QString failureOf(const QJsonObject &result)
{
    return result.value("record").toObject().value("failure").toString();
}

} // namespace

class ZqprogProduction : public QObject
{
    Q_OBJECT

private:
    WorkFolder work;
    QString store;

    ZqprogRun run(QStringList arguments) const
    {
        return work.run(arguments << "--records" << store << "--json");
    }
    ZqprogRun unit(const QString &board, const QString &job = "line.zqjob") const
    {
        return run({"run", job, "--emulated=" + work.path(board)});
    }
    void setBoard(const QString &board, const QByteArray &ini) const
    {
        QDir().mkpath(work.path(board));
        writeAll(work.path(board + "/board.ini"), ini);
    }
    QProcess *startUnit(const QString &board)
    {
        auto *process = new QProcess(this);
        process->setProcessEnvironment(work.environment());
        process->setWorkingDirectory(work.folder.path());
        process->start(ZQPROG_PATH, {"run", "line.zqjob", "--emulated=" + work.path(board),
                                     "--records", store, "--json"});
        return process;
    }

    // Four zqprogs at once, 25 units each: every number of the counter exactly once, each in
    // the flash of the unit that got it.
    void gangOfFour()
    {
        QSet<uint> serials;
        QList<QProcess *> workers;
        for (int b = 0; b < 4; ++b) {
            auto *worker = new QProcess(this);
            worker->setProcessEnvironment(work.environment());
            worker->setWorkingDirectory(work.folder.path());
            const QString script = QStringLiteral(
                "for i in $(seq 25); do \"$0\" run line.zqjob --emulated=b%1 --records \"$1\" "
                "--json | tail -n 1; od -An -tu4 -j%2 -N4 b%1/target-flash.bin; done");
            worker->start("sh", {"-c", script.arg(b).arg(kSerialOffset), ZQPROG_PATH, store});
            workers << worker;
        }
        for (QProcess *worker : workers) {
            QVERIFY(worker->waitForFinished(170000));
            const QStringList lines =
                QString::fromUtf8(worker->readAll()).split('\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 50);
            for (int i = 0; i < lines.size(); i += 2) {
                const QJsonObject result = QJsonDocument::fromJson(lines[i].toUtf8()).object();
                QCOMPARE(result.value("exit").toInt(), 0);
                const uint serial = result.value("serial").toString().toUInt();
                QCOMPARE(lines[i + 1].trimmed().toUInt(), serial); // the number reached the unit
                serials << serial;
            }
        }
        QCOMPARE(serials.size(), 100);
        QCOMPARE(*std::min_element(serials.begin(), serials.end()), kFirstSerial);
        QCOMPARE(*std::max_element(serials.begin(), serials.end()), kFirstSerial + 99);
        const QJsonObject yield = resultOf(run({"records", "yield", "--result", "passed"}));
        QCOMPARE(yield.value("total").toObject().value("attempts").toInt(), 100);
    }

    // A lost check reply voids its number; a unit without a target gives its number back; a run
    // killed in the middle of its write leaves a reservation that the next start voids.
    void outcomes()
    {
        setBoard("lossy", "block_write_ms=0\n");
        writeAll(work.path("lossy/faults.ini"), "no-reply G 1\n");
        const QJsonObject lost = resultOf(unit("lossy"));
        QCOMPARE(failureOf(lost), QString("no-reply"));
        QFile::remove(work.path("lossy/faults.ini"));
        const QJsonObject next = resultOf(unit("lossy"));
        QCOMPARE(next.value("exit").toInt(), 0);
        QVERIFY(next.value("serial").toString().toUInt() >
                lost.value("serial").toString().toUInt());

        setBoard("empty", "target_present=0\n");
        const QJsonObject absent = resultOf(unit("empty"));
        QCOMPARE(failureOf(absent), QString("no-target"));
        QCOMPARE(resultOf(unit("lossy")).value("serial"), absent.value("serial"));

        setBoard("slow", "block_write_ms=1000\n");
        QProcess *killed = startUnit("slow");
        QByteArray seen;
        QVERIFY(waitForText(*killed, "Start to program", seen));
        ::kill(pid_t(killed->processId()), SIGKILL);
        killed->waitForFinished();
        const ZqprogRun after = unit("lossy");
        QVERIFY2(after.err.contains("voided"), qPrintable(after.err));
        const QJsonArray voided = resultOf(after).value("voidedSerials").toArray();
        QCOMPARE(voided.size(), 1);
        const QJsonObject crashed =
            resultOf(run({"records", "show", voided[0].toObject().value("serial").toString()}));
        QCOMPARE(crashed.value("records").toArray().last().toObject().value("failure"),
                 QJsonValue("interrupted"));
    }

    // Refused before any board is touched: a changed image, a malformed job, a bad store.
    void refusals()
    {
        const QByteArray image = WorkFolder::codeImage();
        const QByteArray unitFlash = readAll(work.path("b0/target-flash.bin"));
        writeAll(work.path("demo.bin"), QByteArray(image).replace(100, 1, "\x01"));
        const ZqprogRun changed = unit("b0");
        writeAll(work.path("demo.bin"), image);
        QCOMPARE(changed.exitCode, 1);
        QVERIFY(resultOf(changed).value("error").toString().contains("SHA-256"));
        QCOMPARE(readAll(work.path("b0/target-flash.bin")), unitFlash);
        writeAll(work.path("garbage.zqjob"), "zq-job 1\nname = x\nspeed = fast\n");
        QVERIFY(resultOf(unit("fresh", "garbage.zqjob")).value("error").toString().contains(":3:"));
        const ZqprogRun badStore =
            work.run({"run", "line.zqjob", "--emulated", "--records", "postgresql://zq@h:port/db"});
        QCOMPARE(badStore.exitCode, 2);
    }

private slots:
    void initTestCase()
    {
        const ZqprogRun made =
            work.run({"job", "create", "--image", "demo.bin", "--name", "sensor", "-o",
                      "line.zqjob", "--serial-address", QString::number(kSerialOffset),
                      "--serial-start", QString::number(kFirstSerial)});
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));
    }

    // The embedded store; then a limit, and a record edited behind zqprog's back.
    void sqlite()
    {
        store = work.path("records.sqlite");
        gangOfFour();
        outcomes();
        refusals();
        QVERIFY(work.run({"job", "create", "--image", "demo.bin", "--name", "few", "--limit", "2",
                          "-o", "few.zqjob"})
                    .exitCode == 0);
        QCOMPARE(unit("b0", "few.zqjob").exitCode, 0);
        QCOMPARE(unit("b0", "few.zqjob").exitCode, 0);
        const ZqprogRun limited = unit("b0", "few.zqjob");
        QCOMPARE(limited.exitCode, 1);
        QVERIFY(resultOf(limited).value("error").toString().contains("limit of 2"));
        QCOMPARE(resultOf(limited).value("device"), QJsonValue());
        QCOMPARE(run({"records", "verify"}).exitCode, 0);
        QProcess edit;
        edit.start("sqlite3", {store, "update zq_records set serial = '7' where id = 17"});
        QVERIFY(edit.waitForFinished() && edit.exitCode() == 0);
        const ZqprogRun verify = run({"records", "verify"});
        QCOMPARE(verify.exitCode, 1);
        QVERIFY2(resultOf(verify).value("problem").toString().contains("record 17"),
                 qPrintable(verify.out.join('\n')));
    }

    // A line's shared server; stopped in the middle of a unit, the outcome waits in the spool and
    // the next run forwards it, once.
    void postgresql()
    {
        PrivatePostgres server;
        QVERIFY2(server.start(), qPrintable(server.error()));
        store = server.connectionString();
        gangOfFour();
        outcomes();
        QProcess *cut = startUnit("slow");
        QByteArray seen;
        QVERIFY(waitForText(*cut, "Start to program", seen));
        server.stop();
        QVERIFY(cut->waitForFinished(30000));
        const QStringList lines =
            QString::fromUtf8(seen + cut->readAllStandardOutput()).split('\n');
        const QJsonObject spooled =
            QJsonDocument::fromJson(lines.value(lines.size() - 2).toUtf8()).object();
        QCOMPARE(spooled.value("exit").toInt(), 0);
        QVERIFY(spooled.value("record").toObject().value("spooled").toBool());
        QVERIFY(cut->readAllStandardError().contains("spool"));
        QCOMPARE(unit("lossy").exitCode, 3); // no store: a job with serials does not run
        QVERIFY2(server.serve(), qPrintable(server.error()));
        const ZqprogRun forwarded = unit("lossy");
        QVERIFY2(forwarded.err.contains("forwarded 1 records"), qPrintable(forwarded.err));
        const QString serial = spooled.value("serial").toString();
        const QJsonObject shown = resultOf(run({"records", "show", serial}));
        QCOMPARE(shown.value("records").toArray().size(), 1);
        QCOMPARE(run({"records", "sync"}).exitCode, 0);
        QCOMPARE(resultOf(run({"records", "show", serial})).value("records").toArray().size(), 1);
    }
};

QTEST_GUILESS_MAIN(ZqprogProduction)
#include "test_zqprog_production.moc"
