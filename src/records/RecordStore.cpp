#include "records/RecordStore.h"

#include "config/RegularFile.h"
#include "records/RecordRow.h"
#include "records/Schema.h"
#include "records/StoreSql.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>

#include <atomic>

namespace zq::records
{

using sql::text;

namespace
{

QString newConnectionName()
{
    static std::atomic<quint64> opened{0};
    return QStringLiteral("zq-records-%1").arg(++opened);
}

QString messageOf(const QSqlError &error)
{
    const QString database = error.databaseText().simplified();
    return database.isEmpty() ? error.driverText().simplified() : database;
}

// A committed reservation must survive a power cut before a frame goes to the target, hence
// synchronous=full; several processes write, hence the write-ahead log and the long wait for
// the lock (set first: switching to the log takes the lock too).
bool openSqlite(QSqlDatabase &db, const StoreAddress &address, QString *error)
{
    const config::FileType type = config::fileTypeOf(address.path);
    if (type != config::FileType::Missing && type != config::FileType::Regular) {
        *error = QStringLiteral("%1 %2").arg(address.path, config::fileTypeText(type));
        return false;
    }
    const QString folder = QFileInfo(address.path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the folder %1 for the records").arg(folder);
        return false;
    }
    db.setDatabaseName(address.path);
    bool ok = db.open();
    QSqlError failure = db.lastError();
    for (const char *pragma :
         {"pragma busy_timeout=15000", "pragma journal_mode=wal", "pragma synchronous=full"}) {
        QSqlQuery query(db);
        if (ok && !query.exec(QLatin1String(pragma))) {
            ok = false;
            failure = query.lastError();
        }
    }
    if (!ok)
        *error = QStringLiteral("cannot open %1: %2").arg(address.path, messageOf(failure));
    return ok;
}

bool openPostgres(QSqlDatabase &db, const StoreAddress &address, QString *error)
{
    if (!address.host.isEmpty())
        db.setHostName(address.host);
    if (address.port >= 0)
        db.setPort(address.port);
    db.setUserName(address.user);
    db.setPassword(address.password);
    db.setDatabaseName(address.database);
    // A station waits seconds, not libpq's default of for ever, for a server that went away;
    // the address's own connect_timeout comes later and wins.
    QString options = QStringLiteral("connect_timeout=5");
    if (!address.options.isEmpty())
        options += QLatin1Char(' ') + address.options;
    db.setConnectOptions(options);
    if (db.open())
        return true;
    *error =
        QStringLiteral("cannot reach %1: %2").arg(address.display(), messageOf(db.lastError()));
    return false;
}

std::optional<qint64> countOf(sql::Session &s, const QString &statement, const QVariantList &values)
{
    const std::optional<QVariant> value = s.value(statement, values);
    return value ? std::optional<qint64>(value->toLongLong()) : std::nullopt;
}

// The series' next fresh index, its row locked until the transaction ends.
std::optional<qint64> lockSeries(sql::Session &s, const QString &series)
{
    if (!s.exec(QStringLiteral("insert into zq_series (name, next_index) values (?, 0)"
                               " on conflict do nothing"),
                {text(series)}))
        return std::nullopt;
    return countOf(s,
                   QStringLiteral("select next_index from zq_series where name = ?") +
                       s.dialect().forUpdate,
                   {text(series)});
}

bool withinLimit(sql::Session &s, const SerialSource &source)
{
    if (!source.limit)
        return true;
    const auto passed = countOf(s,
                                QStringLiteral("select count(*) from zq_records"
                                               " where job_hash = ? and result = 'passed'"),
                                {text(source.jobHash)});
    const auto reserved =
        passed ? countOf(s,
                         QStringLiteral("select count(*) from zq_serials"
                                        " where job_hash = ? and state = 'reserved'"),
                         {text(source.jobHash)})
               : std::nullopt;
    if (!reserved)
        return false;
    if (*passed + *reserved < *source.limit)
        return true;
    return s.refuse(
        QStringLiteral("the job's limit of %1 units is reached (%2 passed, %3 reserved)")
            .arg(*source.limit)
            .arg(*passed)
            .arg(*reserved));
}

QVariantList reservationValues(const Reservation &r)
{
    return {text(r.serial),  text(r.jobHash),  text(r.by.station),
            text(r.by.host), qint64(r.by.pid), sql::timeText(r.reservedAt),
            text(r.series),  r.index};
}

bool takeReleased(sql::Session &s, const Reservation &r)
{
    return s.exec(QStringLiteral("update zq_serials set serial = ?, job_hash = ?, station = ?,"
                                 " host = ?, pid = ?, reserved_at = ?, state = 'reserved',"
                                 " settled_at = '' where series = ? and idx = ?"),
                  reservationValues(r));
}

bool takeFresh(sql::Session &s, const Reservation &r)
{
    return s.exec(QStringLiteral("insert into zq_serials (serial, job_hash, station, host, pid,"
                                 " reserved_at, series, idx, state, settled_at)"
                                 " values (?, ?, ?, ?, ?, ?, ?, ?, 'reserved', '')"),
                  reservationValues(r)) &&
           s.exec(QStringLiteral("update zq_series set next_index = ? where name = ?"),
                  {r.index + 1, text(r.series)});
}

bool reserveIn(sql::Session &s, const SerialSource &source, const StationIdentity &by,
               Reservation &r)
{
    const std::optional<qint64> next = lockSeries(s, source.series);
    if (!next || !withinLimit(s, source))
        return false;
    const std::optional<QVariant> released =
        s.value(QStringLiteral("select min(idx) from zq_serials"
                               " where series = ? and state = 'released'"),
                {text(source.series)});
    if (!released)
        return false;
    const bool reuse = !released->isNull() && released->isValid();
    if (!reuse && *next >= source.count)
        return s.refuse(
            QStringLiteral("the serial numbers of series %1 are used up (%2 handed out)")
                .arg(source.series)
                .arg(*next));
    r.series = source.series;
    r.index = reuse ? released->toLongLong() : *next;
    r.serial = source.textAt ? source.textAt(r.index) : QString::number(r.index);
    r.jobHash = source.jobHash;
    // As the store keeps it, to the millisecond, so that the reservation finds its row again.
    r.reservedAt = sql::timeOf(sql::timeText(QDateTime::currentDateTimeUtc()));
    r.by = by;
    return reuse ? takeReleased(s, r) : takeFresh(s, r);
}

QString serialColumns()
{
    return QStringLiteral("series, idx, serial, job_hash, reserved_at, station, host, pid");
}

Reservation reservationOf(const QSqlQuery &q)
{
    Reservation r;
    r.series = q.value(0).toString();
    r.index = q.value(1).toLongLong();
    r.serial = q.value(2).toString();
    r.jobHash = q.value(3).toString();
    r.reservedAt = sql::timeOf(q.value(4).toString());
    r.by = StationIdentity{q.value(5).toString(), q.value(6).toString(), q.value(7).toLongLong()};
    return r;
}

std::optional<QList<Reservation>> reservations(sql::Session &s, const QString &where,
                                               const QVariantList &values)
{
    std::optional<QSqlQuery> q =
        s.run(QStringLiteral("select %1 from zq_serials where %2 order by series, idx")
                  .arg(serialColumns(), where),
              values);
    if (!q)
        return std::nullopt;
    QList<Reservation> found;
    while (q->next())
        found << reservationOf(*q);
    return found;
}

bool voidIn(sql::Session &s, const StationIdentity &by, const std::function<bool(qint64)> &alive,
            QList<Reservation> &voided)
{
    voided.clear();
    const auto reserved = reservations(
        s, QStringLiteral("state = 'reserved' and station = ? and host = ? and pid <> ?"),
        {text(by.station), text(by.host), by.pid});
    if (!reserved)
        return false;
    const QString now = sql::timeText(QDateTime::currentDateTimeUtc());
    for (const Reservation &r : *reserved) {
        if (alive(r.by.pid))
            continue;
        const auto changed = s.change(QStringLiteral("update zq_serials set state = 'voided',"
                                                     " settled_at = ? where series = ? and"
                                                     " idx = ? and state = 'reserved'"),
                                      {now, text(r.series), r.index});
        if (!changed)
            return false;
        if (*changed > 0)
            voided << r;
    }
    return true;
}

// Only while the number is still this reservation's: a record forwarded a second time must not
// settle a later reservation of the same number.
bool settle(sql::Session &s, const std::optional<Reservation> &r, SerialOutcome outcome)
{
    if (!r)
        return true;
    return s.exec(QStringLiteral("update zq_serials set state = ?, settled_at = ?"
                                 " where series = ? and idx = ? and state = 'reserved'"
                                 " and station = ? and host = ? and pid = ? and reserved_at = ?"),
                  {serialOutcomeName(outcome), sql::timeText(QDateTime::currentDateTimeUtc()),
                   text(r->series), r->index, text(r->by.station), text(r->by.host),
                   qint64(r->by.pid), sql::timeText(r->reservedAt)});
}

struct Head {
    qint64 lastId = 0;
    QString lastHash;
    qint64 count = 0;
};

std::optional<Head> readHead(sql::Session &s, bool lock)
{
    std::optional<QSqlQuery> q =
        s.run(QStringLiteral("select last_id, last_hash, count from zq_chain where id = 1") +
              (lock ? s.dialect().forUpdate : QString()));
    if (!q)
        return std::nullopt;
    if (!q->next()) {
        s.refuse(QStringLiteral("%1: the records' chain has no head (zq_chain is empty)")
                     .arg(s.where()));
        return std::nullopt;
    }
    return Head{q->value(0).toLongLong(), q->value(1).toString(), q->value(2).toLongLong()};
}

// True, with r's place filled in from the store, when a record of r's uuid is stored already.
std::optional<bool> known(sql::Session &s, UnitRecord &r)
{
    std::optional<QSqlQuery> q =
        s.run(QStringLiteral("select id, previous_hash, hash from zq_records where uuid = ?"),
              {text(r.uuid)});
    if (!q)
        return std::nullopt;
    if (!q->next())
        return false;
    r.id = q->value(0).toLongLong();
    r.previousHash = q->value(1).toString();
    r.hash = q->value(2).toString();
    return true;
}

QString insertRecord()
{
    const QString marks = QStringLiteral("?, ").repeated(schema::recordColumns().size() + 1);
    return QStringLiteral("insert into zq_records (id, %1, hash) values (%2?)")
        .arg(schema::recordColumnList(), marks);
}

// The head is locked first, so that two writers of one uuid cannot both find it missing.
bool append(sql::Session &s, UnitRecord &r)
{
    const std::optional<Head> head = readHead(s, true);
    const std::optional<bool> stored = head ? known(s, r) : std::nullopt;
    if (!stored || *stored)
        return stored.has_value();
    r.id = head->lastId + 1;
    r.previousHash = head->lastHash;
    QVariantList values = row::of(r, r.previousHash);
    r.hash = row::hash(values);
    values.prepend(r.id);
    values << r.hash;
    return s.exec(insertRecord(), values) &&
           s.exec(QStringLiteral("update zq_chain set last_id = ?, last_hash = ?,"
                                 " count = count + 1 where id = 1"),
                  {r.id, r.hash});
}

QString selectRecords()
{
    return QStringLiteral("select id, %1, hash from zq_records").arg(schema::recordColumnList());
}

UnitRecord recordAt(const QSqlQuery &q, const QVariantList &values)
{
    const int hashColumn = schema::recordColumns().size() + 1;
    return row::record(values, q.value(0).toLongLong(), q.value(hashColumn).toString());
}

void broken(ChainCheck &check, qint64 id, const QString &problem)
{
    check.intact = false;
    check.firstBadId = id;
    check.problem = problem;
}

void checkHead(ChainCheck &check, const Head &head, qint64 lastId, const QString &lastHash)
{
    if (!check.intact ||
        (head.count == check.records && head.lastId == lastId && head.lastHash == lastHash))
        return;
    const QString says = QStringLiteral("its head says %1 records ending at record %2")
                             .arg(head.count)
                             .arg(head.lastId);
    if (check.records < head.count) {
        const QString end = lastId > 0 ? QStringLiteral("the chain ends at record %1").arg(lastId)
                                       : QStringLiteral("the store holds no record");
        broken(check, lastId + 1,
               QStringLiteral("the last records were removed (%1, %2)").arg(end, says));
    } else {
        broken(check, head.lastId + 1,
               QStringLiteral("the records do not end where the chain's head says (%1 records "
                              "ending at record %2, %3)")
                   .arg(check.records)
                   .arg(lastId)
                   .arg(says));
    }
}

bool walk(sql::Session &s, ChainCheck &check)
{
    check = ChainCheck();
    std::optional<QSqlQuery> q = s.run(selectRecords() + QStringLiteral(" order by id"));
    if (!q)
        return false;
    qint64 lastId = 0;
    QString lastHash;
    while (q->next()) {
        const QVariantList values = row::read(*q, 1);
        const UnitRecord r = recordAt(*q, values);
        ++check.records;
        if (check.intact && row::hash(values) != r.hash)
            broken(check, r.id,
                   QStringLiteral("record %1 was changed (its hash no longer matches its content)")
                       .arg(r.id));
        else if (check.intact && r.previousHash != lastHash)
            broken(check, r.id,
                   QStringLiteral("a record was removed or inserted before record %1 (%2)")
                       .arg(r.id)
                       .arg(lastId > 0 ? QStringLiteral("it does not follow record %1").arg(lastId)
                                       : QStringLiteral("it does not start the chain")));
        lastId = r.id;
        lastHash = r.hash;
    }
    const std::optional<Head> head = readHead(s, false);
    if (head)
        checkHead(check, *head, lastId, lastHash);
    return head.has_value();
}

// The filter's conditions, each with its value bound, never pasted.
QString conditions(const RecordFilter &f, QVariantList &values)
{
    QStringList where;
    const auto add = [&](const char *condition, const QVariant &value) {
        where << QLatin1String(condition);
        values << value;
    };
    if (!f.serial.isEmpty())
        add("serial = ?", f.serial);
    if (f.boardId)
        add("board_id = ?", qint64(*f.boardId));
    if (!f.jobHash.isEmpty()) {
        add("substr(job_hash, 1, ?) = ?", qint64(f.jobHash.size()));
        values << f.jobHash;
    }
    if (!f.station.isEmpty())
        add("station = ?", f.station);
    if (f.passed)
        add("result = ?", *f.passed ? QStringLiteral("passed") : QStringLiteral("failed"));
    if (f.failure)
        add("failure_class = ?", text(failureClassName(*f.failure)));
    if (f.since.isValid())
        add("started_at >= ?", sql::timeText(f.since));
    if (f.until.isValid())
        add("started_at < ?", sql::timeText(f.until));
    return where.isEmpty() ? QString()
                           : QStringLiteral(" where ") + where.join(QStringLiteral(" and "));
}

} // namespace

QString serialOutcomeName(SerialOutcome outcome)
{
    switch (outcome) {
    case SerialOutcome::Used:
        return QStringLiteral("used");
    case SerialOutcome::Released:
        return QStringLiteral("released");
    case SerialOutcome::Voided:
        return QStringLiteral("voided");
    }
    return QString();
}

namespace
{

// The names as records and reports show them; they are stored, so they never change.
const QList<QPair<FailureClass, QString>> &failureNames()
{
    static const QList<QPair<FailureClass, QString>> names{
        {FailureClass::None, QStringLiteral("")},
        {FailureClass::NoTarget, QStringLiteral("no-target")},
        {FailureClass::WriteFailed, QStringLiteral("write-failed")},
        {FailureClass::CheckMismatch, QStringLiteral("check-mismatch")},
        {FailureClass::NoReply, QStringLiteral("no-reply")},
        {FailureClass::BoardLost, QStringLiteral("board-lost")},
        {FailureClass::Refused, QStringLiteral("refused")},
        {FailureClass::Interrupted, QStringLiteral("interrupted")},
    };
    return names;
}

} // namespace

QString failureClassName(FailureClass failure)
{
    for (const auto &name : failureNames()) {
        if (name.first == failure)
            return name.second;
    }
    return QString();
}

std::optional<FailureClass> failureClassForName(const QString &name)
{
    for (const auto &known : failureNames()) {
        if (known.second == name)
            return known.first;
    }
    return std::nullopt;
}

RecordStore::RecordStore(const StoreAddress &address, const QString &connectionName)
    : address_(address), connection_(connectionName)
{
}

RecordStore::~RecordStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

sql::Session RecordStore::session() const
{
    return sql::Session(QSqlDatabase::database(connection_, false), schema::dialect(address_.kind),
                        address_.display());
}

std::unique_ptr<RecordStore> RecordStore::open(const StoreAddress &address, QString *error)
{
    std::unique_ptr<RecordStore> store(new RecordStore(address, newConnectionName()));
    const schema::Dialect &dialect = schema::dialect(address.kind);
    QSqlDatabase db = QSqlDatabase::addDatabase(dialect.driver, store->connection_);
    const bool opened = address.kind == StoreAddress::Kind::SQLite
                            ? openSqlite(db, address, error)
                            : openPostgres(db, address, error);
    sql::Session session(db, dialect, address.display());
    if (!opened || !schema::ensure(session, error))
        return nullptr;
    return store;
}

std::optional<Reservation> RecordStore::reserve(const SerialSource &source,
                                                const StationIdentity &by, QString *error)
{
    sql::Session s = session();
    Reservation r;
    if (!s.write([&] { return reserveIn(s, source, by, r); })) {
        *error = s.failure();
        return std::nullopt;
    }
    return r;
}

QList<Reservation> RecordStore::voidAbandoned(const StationIdentity &by,
                                              const std::function<bool(qint64 pid)> &alive,
                                              QString *error)
{
    sql::Session s = session();
    QList<Reservation> voided;
    if (!s.write([&] { return voidIn(s, by, alive, voided); })) {
        *error = s.failure();
        return {};
    }
    return voided;
}

bool RecordStore::finish(UnitRecord &record, const std::optional<Reservation> &reservation,
                         SerialOutcome outcome, QString *error)
{
    sql::Session s = session();
    UnitRecord stored;
    if (!s.write([&] {
            stored = record;
            return settle(s, reservation, outcome) && append(s, stored);
        })) {
        *error = s.failure();
        return false;
    }
    record = stored;
    return true;
}

std::optional<qint64> RecordStore::passedCount(const QString &jobHash, QString *error)
{
    sql::Session s = session();
    const auto passed = countOf(
        s,
        QStringLiteral("select count(*) from zq_records where job_hash = ? and result = 'passed'"),
        {text(jobHash)});
    if (!passed)
        *error = s.failure();
    return passed;
}

QList<UnitRecord> RecordStore::list(const RecordFilter &filter, QString *error)
{
    sql::Session s = session();
    QVariantList values;
    QString statement = selectRecords() + conditions(filter, values) +
                        QStringLiteral(" order by started_at desc, id desc");
    if (filter.limit > 0) {
        statement += QStringLiteral(" limit ?");
        values << qint64(filter.limit);
    }
    std::optional<QSqlQuery> q = s.run(statement, values);
    if (!q) {
        *error = s.failure();
        return {};
    }
    QList<UnitRecord> records;
    while (q->next())
        records << recordAt(*q, row::read(*q, 1));
    return records;
}

QList<Reservation> RecordStore::serials(const QString &series, const QString &state, QString *error)
{
    sql::Session s = session();
    const auto found = state.isEmpty()
                           ? reservations(s, QStringLiteral("series = ?"), {text(series)})
                           : reservations(s, QStringLiteral("series = ? and state = ?"),
                                          {text(series), text(state)});
    if (!found)
        *error = s.failure();
    return found.value_or(QList<Reservation>());
}

ChainCheck RecordStore::verify(QString *error)
{
    sql::Session s = session();
    ChainCheck check;
    if (!s.read([&] { return walk(s, check); })) {
        *error = s.failure();
        check.intact = false;
    }
    return check;
}

} // namespace zq::records
