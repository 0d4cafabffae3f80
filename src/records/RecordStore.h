#pragma once

// The record store: one row per unit attempt, and the serial numbers handed out, in an SQLite
// file (the embedded default) or a PostgreSQL database a line shares. One schema for both,
// created on first use and versioned (records/Schema.cpp). It takes and gives plain values and
// knows nothing of widgets, the protocol or zqprog's options.
//
// A serial number is reserved (committed) before the first frame goes to a target, then used
// (the unit passed its check), released (nothing was written to the target: the next unit takes
// it again, lowest first) or voided (it may have reached the target and the unit did not pass:
// never handed out again). Several processes and several stations on one store get distinct
// numbers. Each record carries the hash of the record before it and its own hash, so an edit,
// a removal or an insertion shows.

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace zq::records
{

namespace sql
{
class Session;
}

// Where the records are, as --records names it: a file path (SQLite), a postgresql:// or
// postgres:// URL, or a libpq key=value string ("host=/run/pg dbname=line user=zq").
struct StoreAddress {
    enum class Kind { SQLite, PostgreSQL };
    Kind kind = Kind::SQLite;
    QString path; // SQLite: the file

    // PostgreSQL; an empty host means libpq's default.
    QString host;
    int port = -1;
    QString user;
    QString password;
    QString database;
    QString options; // the rest of the key=value pairs or URL parameters, for the driver

    // For messages and records: the file, or "postgresql://user@host:port/db" (never the password).
    QString display() const;
    // A stable name for this store's spool file: the same store gives the same key.
    QString spoolKey() const;
};

// Empty text is an error. error says what is wrong with the URL or string.
std::optional<StoreAddress> parseStoreAddress(const QString &text, QString *error);

// The user's data folder for zq-programmer: $XDG_DATA_HOME/zq-programmer (~/.local/share when
// unset); on Windows the local app-data folder.
QString dataFolder();
// dataFolder()/records.sqlite
QString defaultStorePath();

// Who writes: the station's name (host name or --station), the host and the process, so a start
// can tell its own crashed reservations from those of a live sibling (--all).
struct StationIdentity {
    QString station;
    QString host;
    qint64 pid = 0;
};

// The numbers of one series.
struct SerialSource {
    QString series;
    qint64 count = 0;                      // indices 0 .. count - 1
    std::function<QString(qint64)> textAt; // the serial as records show it
    QString jobHash;                       // the job that reserves
    std::optional<qint64> limit;           // refuse when passed + reserved of the job reach it
};

struct Reservation {
    QString series;
    qint64 index = -1;
    QString serial; // its text
    QString jobHash;
    QDateTime reservedAt;
    StationIdentity by;
};

enum class SerialOutcome { Used, Released, Voided };
QString serialOutcomeName(SerialOutcome outcome); // "used", "released", "voided"

// The classes of a failed attempt, as records and reports name them.
enum class FailureClass {
    None, // passed
    NoTarget,
    WriteFailed,
    CheckMismatch,
    NoReply,
    BoardLost,
    Refused,
    Interrupted,
};
QString failureClassName(FailureClass failure); // "", "no-target", "write-failed", ...
std::optional<FailureClass> failureClassForName(const QString &name);

// One unit attempt (or one download, check, verify or update).
struct UnitRecord {
    QString uuid;      // made by the writer; a record forwarded twice is stored once
    QDateTime started; // UTC
    QDateTime ended;
    QString station;
    QString operatorName;
    QString toolVersion;
    QString unitLabel;
    std::optional<uint32_t> boardId;
    QString port;
    QString subcommand; // "program", "download", ...
    QString jobHash;    // empty without a job
    QString imageSha256;
    std::optional<uint32_t> imageCrc;
    QString serial; // empty without one
    std::optional<uint32_t> targetId;
    FailureClass failure = FailureClass::None;
    std::optional<int> resultCode; // the operation's, when one ran
    int exitCode = 0;
    std::optional<qint64> initMs, writeMs, checkMs;

    // Given by the store.
    qint64 id = 0;
    QString previousHash;
    QString hash;

    bool passed() const { return failure == FailureClass::None; }
};

// What records list, show, yield and export select; unset fields select everything.
struct RecordFilter {
    QString serial;
    std::optional<uint32_t> boardId;
    QString jobHash; // a prefix of one
    QString station;
    std::optional<bool> passed;
    std::optional<FailureClass> failure;
    QDateTime since, until; // started within [since, until)
    int limit = 0;          // 0: all
};

// What records verify found.
struct ChainCheck {
    qint64 records = 0;
    bool intact = true;
    qint64 firstBadId = 0; // the first record changed, inserted, or after a removed one
    QString problem;       // "record 17 was changed", ...
};

class RecordStore
{
public:
    // Opens (creating the SQLite file and its folder) and creates or checks the schema; null with
    // the reason when the store cannot be reached or holds a schema of another version.
    static std::unique_ptr<RecordStore> open(const StoreAddress &address, QString *error);
    ~RecordStore();
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;

    const StoreAddress &address() const { return address_; }

    // The next number of the series for this station, committed before it returns: the lowest
    // released one, else the one after the highest handed out. Nothing, with the reason, when
    // the series is used up, the job's limit is reached or the store fails.
    std::optional<Reservation> reserve(const SerialSource &source, const StationIdentity &by,
                                       QString *error);
    // Reservations of this station and host whose process is gone (alive says whether a process
    // still runs) are voided; they are returned, for the run to list.
    QList<Reservation> voidAbandoned(const StationIdentity &by,
                                     const std::function<bool(qint64 pid)> &alive, QString *error);

    // Stores the record (with its place in the chain) and, in the same transaction, the
    // reservation's outcome. A record whose uuid is stored already is left as it is (true).
    bool finish(UnitRecord &record, const std::optional<Reservation> &reservation,
                SerialOutcome outcome, QString *error);

    // Passed records of the job, all stations.
    std::optional<qint64> passedCount(const QString &jobHash, QString *error);

    // Newest first.
    QList<UnitRecord> list(const RecordFilter &filter, QString *error);
    // The serial numbers of a series in a state ("reserved", ...), for reports and tests.
    QList<Reservation> serials(const QString &series, const QString &state, QString *error);
    // Walks the chain from the first record.
    ChainCheck verify(QString *error);

private:
    RecordStore(const StoreAddress &address, const QString &connectionName);
    // This store's connection, named for this object alone: QtSql's connections are per thread
    // and per name, so two stores (two threads) never share one.
    sql::Session session() const;

    StoreAddress address_;
    QString connection_;
};

// Records that could not reach their store, kept in a file beside the store's name in the data
// folder until they can: one JSON object a line (the record, the reservation and its outcome),
// each line written and flushed whole, under a lock file shared by every process of the host.
// A record is never dropped and never forwarded twice (the store keeps one record per uuid).
class Spool
{
public:
    explicit Spool(const StoreAddress &address);
    QString path() const { return path_; }

    bool add(const UnitRecord &record, const std::optional<Reservation> &reservation,
             SerialOutcome outcome, QString *error);
    // How many wait.
    int pending(QString *error) const;
    // Forwards every waiting record to the store, oldest first; what was forwarded leaves the
    // spool. The number forwarded, or nothing when the store failed (the rest stays).
    std::optional<int> forward(RecordStore &store, QString *error);

private:
    QString path_;
};

} // namespace zq::records
