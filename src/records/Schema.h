#pragma once

// The records store's schema, for SQLite and PostgreSQL alike: every table, its version, and the
// few places where the two databases want different words. Nothing else in the store writes a
// CREATE or knows a dialect's spelling.

#include "records/RecordStore.h"

#include <QStringList>

namespace zq::records::sql
{
class Session;
}

namespace zq::records::schema
{

// What zq_meta's schema_version says. A store of another version is refused, never migrated
// behind the user's back.
constexpr int kVersion = 1;

// Where SQLite and PostgreSQL differ, by name.
struct Dialect {
    QString driver;     // the QtSql driver
    QString beginWrite; // takes the write lock at once, so no writer waits on a reader's upgrade
    QString beginRead;  // one snapshot for a whole walk of the chain
    QString forUpdate;  // appended to a SELECT of a lock row: SQLite's BEGIN IMMEDIATE locks all
    QString recordId;   // the records' id column: given by the store, one more than the head's
    QString tableCount; // how many tables named zq_meta the database holds
    QString createLock; // serialises two processes creating the schema at once; empty: none
    QStringList transientCodes; // error codes after which the transaction may run again
};

const Dialect &dialect(StoreAddress::Kind kind);

// zq_records' columns after id, in the order the hash covers them; hash follows them.
struct Column {
    const char *name;
    bool integer; // else text, never null; integers may be null
};
const QList<Column> &recordColumns();
QString recordColumnList(); // "uuid, started_at, ..., previous_hash"

// Creates the schema when the store holds none, in one transaction; checks the version when it
// does. False with the reason (the store's display name first).
bool ensure(sql::Session &session, QString *error);

} // namespace zq::records::schema
