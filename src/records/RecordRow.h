#pragma once

// A record as zq_records holds it, and its place in the hash chain. The hash is computed over the
// row's values, not over the record, so that verify can recompute it from what the store holds.

#include "records/RecordStore.h"

#include <QSqlQuery>
#include <QVariantList>

namespace zq::records::row
{

// The values of schema::recordColumns() in their order (previous_hash last): text as a non-null
// QString, integers as qint64 or a null QVariant.
QVariantList of(const UnitRecord &record, const QString &previousHash);
// The same, read from a query's columns first, first + 1, ...
QVariantList read(const QSqlQuery &query, int first);
// The record back; id and hash from their own columns.
UnitRecord record(const QVariantList &values, qint64 id, const QString &hash);

// SHA-256 (lower-case hex) of the canonical text of a row: a compact JSON array of the values in
// column order, each text or integer as a JSON string, a null integer as null. One row has one
// text, and no two rows share it.
QString hash(const QVariantList &values);

} // namespace zq::records::row
