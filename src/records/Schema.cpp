#include "records/Schema.h"

#include "records/StoreSql.h"

namespace zq::records::schema
{

namespace
{

// zq_series holds the next fresh index of each series, and its row is the lock that orders two
// stations reserving at once. zq_serials holds every number handed out, whatever became of it.
// zq_chain's single row is the head of the records' hash chain: it names the last record and
// counts them, so a removed last record shows as well as a removed middle one.
const char *const kTables[] = {
    "create table if not exists zq_meta (key text primary key, value text not null)",
    "create table if not exists zq_series (name text primary key, next_index bigint not null)",
    "create table if not exists zq_serials ("
    " series text not null, idx bigint not null, serial text not null,"
    " state text not null check (state in ('reserved', 'used', 'released', 'voided')),"
    " job_hash text not null, station text not null, host text not null, pid bigint not null,"
    " reserved_at text not null, settled_at text not null, primary key (series, idx))",
    "create table if not exists zq_chain (id bigint primary key check (id = 1),"
    " last_id bigint not null, last_hash text not null, count bigint not null)",
};

const char *const kIndexes[] = {
    "create index if not exists zq_serials_state on zq_serials (series, state, idx)",
    "create index if not exists zq_serials_station on zq_serials (station, host, state)",
    "create index if not exists zq_serials_job on zq_serials (job_hash, state)",
    "create index if not exists zq_records_serial on zq_records (serial)",
    "create index if not exists zq_records_job on zq_records (job_hash)",
    "create index if not exists zq_records_started on zq_records (started_at)",
};

QString recordsTable(const Dialect &dialect)
{
    QString columns;
    for (const Column &column : recordColumns())
        columns += QStringLiteral(", %1 %2").arg(QLatin1String(column.name),
                                                 column.integer ? QLatin1String("bigint")
                                                                : QLatin1String("text not null"));
    return QStringLiteral("create table if not exists zq_records (id %1%2, hash text not null,"
                          " unique (uuid), check (result in ('passed', 'failed')))")
        .arg(dialect.recordId, columns);
}

bool create(sql::Session &session)
{
    for (const char *statement : kTables) {
        if (!session.exec(QLatin1String(statement)))
            return false;
    }
    if (!session.exec(recordsTable(session.dialect())))
        return false;
    for (const char *statement : kIndexes) {
        if (!session.exec(QLatin1String(statement)))
            return false;
    }
    return session.exec(QStringLiteral("insert into zq_meta (key, value) values (?, ?)"),
                        {QStringLiteral("schema_version"), QString::number(kVersion)}) &&
           session.exec(QStringLiteral("insert into zq_chain (id, last_id, last_hash, count)"
                                       " values (1, 0, '', 0)"));
}

// The schema_version zq_meta holds, after creating the schema when there is none.
std::optional<QVariant> versionCreating(sql::Session &session)
{
    const Dialect &dialect = session.dialect();
    if (!dialect.createLock.isEmpty() && !session.exec(dialect.createLock))
        return std::nullopt;
    const std::optional<QVariant> tables = session.value(dialect.tableCount);
    if (!tables || (tables->toLongLong() == 0 && !create(session)))
        return std::nullopt;
    return session.value(QStringLiteral("select value from zq_meta where key = ?"),
                         {QStringLiteral("schema_version")});
}

} // namespace

const Dialect &dialect(StoreAddress::Kind kind)
{
    static const Dialect sqlite{
        QStringLiteral("QSQLITE"),
        QStringLiteral("begin immediate"),
        QStringLiteral("begin"),
        QString(),
        QStringLiteral("integer primary key"),
        QStringLiteral("select count(*) from sqlite_master where type = 'table'"
                       " and name = 'zq_meta'"),
        QString(),
        {QStringLiteral("5"), QStringLiteral("6")}, // SQLITE_BUSY, SQLITE_LOCKED
    };
    static const Dialect postgresql{
        QStringLiteral("QPSQL"),
        QStringLiteral("begin"),
        QStringLiteral("begin isolation level repeatable read"),
        QStringLiteral(" for update"),
        QStringLiteral("bigint primary key"),
        QStringLiteral("select count(*) from pg_tables where schemaname = current_schema()"
                       " and tablename = 'zq_meta'"),
        QStringLiteral("select pg_advisory_xact_lock(7960236)"), // "zq records", in short
        {QStringLiteral("40001"), QStringLiteral("40P01")},      // serialization failure, deadlock
    };
    return kind == StoreAddress::Kind::SQLite ? sqlite : postgresql;
}

const QList<Column> &recordColumns()
{
    static const QList<Column> columns{
        {"uuid", false},       {"started_at", false},    {"ended_at", false},
        {"station", false},    {"operator", false},      {"tool_version", false},
        {"unit_label", false}, {"board_id", true},       {"port", false},
        {"subcommand", false}, {"job_hash", false},      {"image_sha256", false},
        {"image_crc", true},   {"serial", false},        {"target_id", true},
        {"result", false},     {"failure_class", false}, {"result_code", true},
        {"exit_code", true},   {"init_ms", true},        {"write_ms", true},
        {"check_ms", true},    {"previous_hash", false},
    };
    return columns;
}

QString recordColumnList()
{
    QStringList names;
    for (const Column &column : recordColumns())
        names << QLatin1String(column.name);
    return names.join(QStringLiteral(", "));
}

bool ensure(sql::Session &session, QString *error)
{
    std::optional<QVariant> version;
    if (!session.write([&] { return (version = versionCreating(session)).has_value(); })) {
        *error = session.failure();
        return false;
    }
    if (!version->isValid()) {
        *error = QStringLiteral("%1 is no records store (its zq_meta holds no schema_version)")
                     .arg(session.where());
        return false;
    }
    if (version->toString() != QString::number(kVersion)) {
        *error = QStringLiteral("%1 holds records schema version %2; this zqprog reads version %3")
                     .arg(session.where(), version->toString())
                     .arg(kVersion);
        return false;
    }
    return true;
}

} // namespace zq::records::schema
