// records_unit_ms_sqlite, records_unit_ms_postgresql: what the record store adds to each unit
// of a job with serial numbers, the median of many: the reservation committed before the write,
// then the outcome and the record committed in one transaction. SQLite is a file with its
// journal synchronised as a line keeps it; PostgreSQL a private server on a Unix socket (with
// its own fsync off, so the figure is the client's and the server's work, not the disk's).
// Goals: at most 5 and 10 ms.

#include "Figures.h"
#include "PrivatePostgres.h"
#include "records/RecordStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdio>
#include <vector>

namespace
{

using namespace zq::records;

constexpr int kUnits = 300;

UnitRecord passedUnit(const Reservation &reservation)
{
    UnitRecord record;
    record.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.started = record.ended = QDateTime::currentDateTimeUtc();
    record.station = QStringLiteral("bench");
    record.subcommand = QStringLiteral("program");
    record.jobHash = QString(64, QLatin1Char('a'));
    record.imageSha256 = QString(64, QLatin1Char('b'));
    record.imageCrc = 0x1A2B3C4D;
    record.serial = reservation.serial;
    record.boardId = 0x00012345;
    record.port = QStringLiteral("1-1.4");
    record.resultCode = 0;
    record.initMs = 3;
    record.writeMs = 120;
    record.checkMs = 8;
    return record;
}

// The median milliseconds per unit; negative when the store failed.
double unitCost(const QString &where)
{
    QString error;
    const std::optional<StoreAddress> address = parseStoreAddress(where, &error);
    std::unique_ptr<RecordStore> store = address ? RecordStore::open(*address, &error) : nullptr;
    if (!store) {
        std::fprintf(stderr, "bench_records: %s\n", qPrintable(error));
        return -1.0;
    }
    const SerialSource source{QStringLiteral("bench"), 1000000,
                              [](qint64 index) { return QString::number(index); },
                              QString(64, QLatin1Char('a')), std::nullopt};
    const StationIdentity station{QStringLiteral("bench"), QStringLiteral("bench"), 1};
    std::vector<double> samples;
    for (int unit = 0; unit < kUnits; ++unit) {
        QElapsedTimer clock;
        clock.start();
        const std::optional<Reservation> reservation = store->reserve(source, station, &error);
        UnitRecord record = reservation ? passedUnit(*reservation) : UnitRecord{};
        if (!reservation || !store->finish(record, reservation, SerialOutcome::Used, &error)) {
            std::fprintf(stderr, "bench_records: %s\n", qPrintable(error));
            return -1.0;
        }
        samples.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return zq::bench::median(samples);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    qputenv("XDG_DATA_HOME", folder.path().toUtf8()); // the spool stays in the scratch folder
    const double sqlite = unitCost(folder.filePath(QStringLiteral("records.sqlite")));
    PrivatePostgres server;
    if (!server.start()) {
        std::fprintf(stderr, "bench_records: %s\n", qPrintable(server.error()));
        return 1;
    }
    const double postgresql = unitCost(server.connectionString());
    if (sqlite < 0 || postgresql < 0)
        return 1;
    zq::bench::printFigure("records_units", kUnits, 0);
    zq::bench::printFigure("records_unit_ms_sqlite", sqlite);
    zq::bench::printFigure("records_unit_ms_postgresql", postgresql);
    return 0;
}
