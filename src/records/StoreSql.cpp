#include "records/StoreSql.h"

#include <QSqlError>
#include <QThread>

namespace zq::records::sql
{

namespace
{

// SQLite waits busy_timeout for the lock before it says busy, so a few attempts cover a long
// queue of writers; PostgreSQL's lock waits do not time out, only deadlocks end them.
constexpr int kAttempts = 4;

QString messageOf(const QSqlError &error)
{
    const QString database = error.databaseText().trimmed();
    return database.isEmpty() ? error.driverText().trimmed() : database;
}

} // namespace

Session::Session(const QSqlDatabase &db, const schema::Dialect &dialect, const QString &where)
    : db_(db), dialect_(dialect), where_(where)
{
}

bool Session::failed(const QSqlError &error)
{
    failure_ = QStringLiteral("%1: %2").arg(where_, messageOf(error));
    transient_ = dialect_.transientCodes.contains(error.nativeErrorCode());
    return false;
}

bool Session::refuse(const QString &message)
{
    failure_ = message;
    transient_ = false;
    return false;
}

std::optional<QSqlQuery> Session::run(const QString &statement, const QVariantList &values)
{
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    // PostgreSQL prepares only queries and changes of rows, not BEGIN, CREATE or a lock call.
    bool ok = false;
    if (values.isEmpty()) {
        ok = query.exec(statement);
    } else if (query.prepare(statement)) {
        for (const QVariant &value : values)
            query.addBindValue(value);
        ok = query.exec();
    }
    if (!ok) {
        failed(query.lastError());
        return std::nullopt;
    }
    return query;
}

bool Session::exec(const QString &statement, const QVariantList &values)
{
    return run(statement, values).has_value();
}

std::optional<int> Session::change(const QString &statement, const QVariantList &values)
{
    const std::optional<QSqlQuery> query = run(statement, values);
    return query ? std::optional<int>(query->numRowsAffected()) : std::nullopt;
}

std::optional<QVariant> Session::value(const QString &statement, const QVariantList &values)
{
    std::optional<QSqlQuery> query = run(statement, values);
    if (!query)
        return std::nullopt;
    return query->next() ? query->value(0) : QVariant();
}

bool Session::write(const std::function<bool()> &body)
{
    return transact(dialect_.beginWrite, body);
}

bool Session::read(const std::function<bool()> &body)
{
    return transact(dialect_.beginRead, body);
}

bool Session::transact(const QString &begin, const std::function<bool()> &body)
{
    for (int attempt = 1;; ++attempt) {
        failure_.clear();
        transient_ = false;
        if (exec(begin) && body() && exec(QStringLiteral("COMMIT")))
            return true;
        // The failure is the one to tell; the rollback's own complaint (no transaction after a
        // failed BEGIN or COMMIT) is not.
        const QString failure = failure_;
        const bool transient = transient_;
        QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        failure_ = failure;
        if (!transient || attempt == kAttempts)
            return false;
        QThread::msleep(20 * attempt);
    }
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QStringLiteral("");
}

QDateTime timeOf(const QString &text)
{
    return text.isEmpty() ? QDateTime() : QDateTime::fromString(text, Qt::ISODateWithMs).toUTC();
}

} // namespace zq::records::sql
