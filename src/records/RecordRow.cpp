#include "records/RecordRow.h"

#include "records/Schema.h"
#include "records/StoreSql.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

namespace zq::records::row
{

namespace
{

int columnIndex(const char *name)
{
    static const QHash<QString, int> indexes = [] {
        QHash<QString, int> map;
        const QList<schema::Column> &columns = schema::recordColumns();
        for (int i = 0; i < columns.size(); ++i)
            map.insert(QLatin1String(columns[i].name), i);
        return map;
    }();
    return indexes.value(QLatin1String(name), -1);
}

// Reads a record's values by column name.
class Values
{
public:
    explicit Values(const QVariantList &values) : values_(values) {}
    QString text(const char *name) const { return values_.value(columnIndex(name)).toString(); }
    qint64 integer(const char *name) const { return values_.value(columnIndex(name)).toLongLong(); }
    template <typename T> std::optional<T> maybe(const char *name) const
    {
        const QVariant value = values_.value(columnIndex(name));
        return value.isNull() ? std::nullopt : std::optional<T>(T(value.toLongLong()));
    }

private:
    const QVariantList &values_;
};

} // namespace

QVariantList of(const UnitRecord &r, const QString &previousHash)
{
    using sql::nullable;
    using sql::text;
    return {text(r.uuid),
            sql::timeText(r.started),
            sql::timeText(r.ended),
            text(r.station),
            text(r.operatorName),
            text(r.toolVersion),
            text(r.unitLabel),
            nullable(r.boardId),
            text(r.port),
            text(r.subcommand),
            text(r.jobHash),
            text(r.imageSha256),
            nullable(r.imageCrc),
            text(r.serial),
            nullable(r.targetId),
            r.passed() ? QStringLiteral("passed") : QStringLiteral("failed"),
            text(failureClassName(r.failure)),
            nullable(r.resultCode),
            qint64(r.exitCode),
            nullable(r.initMs),
            nullable(r.writeMs),
            nullable(r.checkMs),
            text(previousHash)};
}

QVariantList read(const QSqlQuery &query, int first)
{
    QVariantList values;
    const QList<schema::Column> &columns = schema::recordColumns();
    for (int i = 0; i < columns.size(); ++i) {
        const QVariant value = query.value(first + i);
        if (!columns[i].integer)
            values << sql::text(value.toString());
        else
            values << (value.isNull() ? QVariant(QVariant::LongLong)
                                      : QVariant(value.toLongLong()));
    }
    return values;
}

UnitRecord record(const QVariantList &values, qint64 id, const QString &hash)
{
    const Values v(values);
    UnitRecord r;
    r.uuid = v.text("uuid");
    r.started = sql::timeOf(v.text("started_at"));
    r.ended = sql::timeOf(v.text("ended_at"));
    r.station = v.text("station");
    r.operatorName = v.text("operator");
    r.toolVersion = v.text("tool_version");
    r.unitLabel = v.text("unit_label");
    r.boardId = v.maybe<uint32_t>("board_id");
    r.port = v.text("port");
    r.subcommand = v.text("subcommand");
    r.jobHash = v.text("job_hash");
    r.imageSha256 = v.text("image_sha256");
    r.imageCrc = v.maybe<uint32_t>("image_crc");
    r.serial = v.text("serial");
    r.targetId = v.maybe<uint32_t>("target_id");
    // A failed record's class is never empty; one that is (an edit) still reads as failed.
    if (v.text("result") != QLatin1String("passed")) {
        const auto failure = failureClassForName(v.text("failure_class"));
        r.failure = failure && *failure != FailureClass::None ? *failure : FailureClass::Refused;
    }
    r.resultCode = v.maybe<int>("result_code");
    r.exitCode = int(v.integer("exit_code"));
    r.initMs = v.maybe<qint64>("init_ms");
    r.writeMs = v.maybe<qint64>("write_ms");
    r.checkMs = v.maybe<qint64>("check_ms");
    r.id = id;
    r.previousHash = v.text("previous_hash");
    r.hash = hash;
    return r;
}

QString hash(const QVariantList &values)
{
    QJsonArray array;
    for (const QVariant &value : values) {
        if (value.isNull() && value.type() == QVariant::LongLong)
            array.append(QJsonValue());
        else if (value.type() == QVariant::LongLong)
            array.append(QString::number(value.toLongLong()));
        else
            array.append(value.toString());
    }
    const QByteArray text = QJsonDocument(array).toJson(QJsonDocument::Compact);
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
}

} // namespace zq::records::row
