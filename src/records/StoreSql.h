#pragma once

// How the store talks to its database: values always bound (never pasted into a statement), and
// every change inside a transaction that runs again when another writer held the lock.

#include "records/Schema.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariantList>

#include <functional>
#include <optional>

namespace zq::records::sql
{

class Session
{
public:
    // where names the store in messages: "records.sqlite: database is locked".
    Session(const QSqlDatabase &db, const schema::Dialect &dialect, const QString &where);

    const schema::Dialect &dialect() const { return dialect_; }
    const QString &where() const { return where_; }

    // The statement with the values bound in order; nothing when it failed (see failure()).
    std::optional<QSqlQuery> run(const QString &statement, const QVariantList &values = {});
    bool exec(const QString &statement, const QVariantList &values = {});
    // How many rows the statement changed; nothing when it failed.
    std::optional<int> change(const QString &statement, const QVariantList &values);
    // The first column of the first row: an invalid QVariant when there is no row, nothing when
    // the statement failed.
    std::optional<QVariant> value(const QString &statement, const QVariantList &values = {});

    // Runs body in a write (or read) transaction and commits; rolls back when body or the
    // commit fails. body may run more than once (it starts over when another writer held a
    // lock too long), so it keeps what it collects in state it resets itself.
    bool write(const std::function<bool()> &body);
    bool read(const std::function<bool()> &body);

    // A refusal of the store's own ("the series is used up"): the transaction rolls back and
    // is not run again.
    bool refuse(const QString &message);
    const QString &failure() const { return failure_; }

private:
    bool transact(const QString &begin, const std::function<bool()> &body);
    bool failed(const QSqlError &error);

    QSqlDatabase db_;
    const schema::Dialect &dialect_;
    QString where_;
    QString failure_;
    bool transient_ = false;
};

// Text for a column that holds no null: a null QString binds as NULL.
inline QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

// A null-able integer column.
template <typename T> QVariant nullable(const std::optional<T> &value)
{
    return value ? QVariant(qint64(*value)) : QVariant(QVariant::LongLong);
}

// Timestamps as the store keeps them: ISO 8601 in UTC with milliseconds, which sort as text.
QString timeText(const QDateTime &time);
QDateTime timeOf(const QString &text);

} // namespace zq::records::sql
