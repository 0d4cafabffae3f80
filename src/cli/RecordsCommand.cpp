#include "cli/RecordsCommand.h"

#include "cli/Production.h"
#include "config/RegularFile.h"
#include "frontend/NumberText.h"
#include "records/RecordStore.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QPair>
#include <QRegularExpression>
#include <QVector>

#include <algorithm>
#include <memory>
#include <optional>

namespace zq::cli
{

namespace
{

using records::FailureClass;
using records::RecordFilter;
using records::RecordStore;
using records::UnitRecord;

// In the order reports list them.
const FailureClass kFailureClasses[] = {
    FailureClass::NoTarget,    FailureClass::WriteFailed, FailureClass::CheckMismatch,
    FailureClass::NoReply,     FailureClass::BoardLost,   FailureClass::Refused,
    FailureClass::Interrupted,
};

QString localText(const QDateTime &time, const QString &format)
{
    return time.isValid() ? time.toLocalTime().toString(format) : QString();
}

// How yield groups the records: the key each one falls under. Keys sort as their groups are
// listed, so a day's or an hour's key is its local date and time written most significant first.
struct Grouping {
    const char *name;
    const char *heading;
    QString (*key)(const UnitRecord &record);
};

const Grouping kGroupings[] = {
    {"day", "Day",
     [](const UnitRecord &r) { return localText(r.started, QStringLiteral("yyyy-MM-dd")); }},
    {"hour", "Hour",
     [](const UnitRecord &r) { return localText(r.started, QStringLiteral("yyyy-MM-dd HH:00")); }},
    {"station", "Station", [](const UnitRecord &r) { return r.station; }},
    {"board", "Board",
     [](const UnitRecord &r) { return r.boardId ? toHexText(*r.boardId, 8) : QString(); }},
    {"port", "Port", [](const UnitRecord &r) { return r.port; }},
    {"job", "Job", [](const UnitRecord &r) { return r.jobHash.left(12); }},
};

const Grouping *groupingNamed(const QString &name)
{
    for (const Grouping &grouping : kGroupings) {
        if (name == QLatin1String(grouping.name))
            return &grouping;
    }
    return nullptr;
}

// ---- What the action's options ask for

struct Request {
    RecordFilter filter;
    QString by = QStringLiteral("day");
    QString format = QStringLiteral("csv");
    QString output; // export's file; empty: stdout
};

QDateTime localMidnight(const QDate &date)
{
    return QDateTime(date, QTime(0, 0), Qt::LocalTime);
}

// "-90m": now minus that.
std::optional<QDateTime> timeAgo(const QString &text)
{
    static const QRegularExpression ago(QStringLiteral("^-([0-9]{1,9})([smhd])$"));
    const QRegularExpressionMatch match = ago.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    static const QHash<QString, qint64> seconds{{QStringLiteral("s"), 1},
                                                {QStringLiteral("m"), 60},
                                                {QStringLiteral("h"), 3600},
                                                {QStringLiteral("d"), 86400}};
    return QDateTime::currentDateTimeUtc().addSecs(-match.captured(1).toLongLong() *
                                                   seconds.value(match.captured(2)));
}

// A date, or a date and a time, in local time.
std::optional<QDateTime> localTimeFromText(QString text)
{
    static const QRegularExpression date(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
    static const QRegularExpression dateTime(
        QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}(:[0-9]{2})?$"));
    QDateTime time;
    if (date.match(text).hasMatch()) {
        time = localMidnight(QDate::fromString(text, Qt::ISODate));
    } else {
        text.replace(QLatin1Char(' '), QLatin1Char('T'));
        const QRegularExpressionMatch match = dateTime.match(text);
        if (match.hasMatch())
            time = QDateTime::fromString(text, match.captured(1).isEmpty()
                                                   ? QStringLiteral("yyyy-MM-dd'T'HH:mm")
                                                   : QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    }
    if (!time.isValid())
        return std::nullopt;
    return time;
}

std::optional<QDateTime> timeFromText(const QString &text)
{
    const QDate today = QDate::currentDate();
    if (text == QLatin1String("today"))
        return localMidnight(today).toUTC();
    if (text == QLatin1String("yesterday"))
        return localMidnight(today.addDays(-1)).toUTC();
    if (text.startsWith(QLatin1Char('-')))
        return timeAgo(text);
    const std::optional<QDateTime> local = localTimeFromText(text);
    return local ? std::optional<QDateTime>(local->toUTC()) : std::nullopt;
}

const QString kTimeForms = QStringLiteral(
    "takes a date (2026-12-11), a date and time (2026-12-11T14:00), today, yesterday or a time "
    "ago (-24h, -90m)");

// Each parser takes the option's value into the request; the error says what the option takes.
QString parseSerial(const QString &value, Request &request)
{
    if (value.isEmpty())
        return QStringLiteral("needs a serial number");
    request.filter.serial = value;
    return QString();
}

QString parseBoard(const QString &value, Request &request)
{
    static const QRegularExpression id(QStringLiteral("^(0[xX][0-9a-fA-F]{1,8}|[0-9]{1,10})$"));
    const bool hex = value.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    bool ok = false;
    const uint board =
        id.match(value).hasMatch() ? value.mid(hex ? 2 : 0).toUInt(&ok, hex ? 16 : 10) : 0;
    if (!ok)
        return QStringLiteral("takes a board id, 0x and hex digits or decimal");
    request.filter.boardId = board;
    return QString();
}

QString parseJob(const QString &value, Request &request)
{
    static const QRegularExpression hash(QStringLiteral("^[0-9a-fA-F]{1,64}$"));
    if (!hash.match(value).hasMatch())
        return QStringLiteral("takes the start of a job's hash (hex digits)");
    request.filter.jobHash = value.toLower();
    return QString();
}

QString failureClassList()
{
    QStringList names;
    for (FailureClass failure : kFailureClasses)
        names << records::failureClassName(failure);
    return names.join(QStringLiteral(", "));
}

QString parseResult(const QString &value, Request &request)
{
    const std::optional<FailureClass> failure = records::failureClassForName(value);
    if (value == QLatin1String("passed") || value == QLatin1String("failed"))
        request.filter.passed = value == QLatin1String("passed");
    else if (failure && *failure != FailureClass::None)
        request.filter.failure = failure;
    else
        return QStringLiteral("takes passed, failed or a failure class: ") + failureClassList();
    return QString();
}

QString parseSince(const QString &value, Request &request)
{
    const std::optional<QDateTime> time = timeFromText(value);
    if (!time)
        return kTimeForms;
    request.filter.since = *time;
    return QString();
}

QString parseUntil(const QString &value, Request &request)
{
    const std::optional<QDateTime> time = timeFromText(value);
    if (!time)
        return kTimeForms;
    request.filter.until = *time;
    return QString();
}

QString parseLast(const QString &value, Request &request)
{
    static const QRegularExpression count(QStringLiteral("^[0-9]{1,9}$"));
    if (!count.match(value).hasMatch() || value.toInt() < 1)
        return QStringLiteral("takes a count of records, 1 or more");
    request.filter.limit = value.toInt();
    return QString();
}

QString parseBy(const QString &value, Request &request)
{
    if (!groupingNamed(value))
        return QStringLiteral("takes day, hour, station, board, port or job");
    request.by = value;
    return QString();
}

QString parseFormat(const QString &value, Request &request)
{
    if (value != QLatin1String("csv") && value != QLatin1String("json"))
        return QStringLiteral("takes csv or json");
    request.format = value;
    return QString();
}

// Judged before the store is opened: a folder or a device would only fail once the report is made.
QString parseOutput(const QString &value, Request &request)
{
    if (value.isEmpty())
        return QStringLiteral("needs a file name");
    const config::FileType type = config::fileTypeOf(value);
    if (type != config::FileType::Missing && type != config::FileType::Regular)
        return config::fileTypeText(type);
    if (!config::existingFileWritable(value))
        return QStringLiteral("cannot be written");
    request.output = value;
    return QString();
}

struct OptionParser {
    const char *name;
    QString (*parse)(const QString &value, Request &request);
};

const OptionParser kOptions[] = {
    {"serial", parseSerial}, {"board", parseBoard},   {"job", parseJob},   {"result", parseResult},
    {"since", parseSince},   {"until", parseUntil},   {"last", parseLast}, {"by", parseBy},
    {"format", parseFormat}, {"output", parseOutput},
};

// actionOptions holds every option of the command line; only the records' own are read here.
QString readRequest(const Options &options, Request &request)
{
    for (const OptionParser &option : kOptions) {
        const QString name = QString::fromLatin1(option.name);
        const auto found = options.actionOptions.constFind(name);
        if (found == options.actionOptions.constEnd())
            continue;
        const QString problem = option.parse(found.value(), request);
        if (!problem.isEmpty())
            return QStringLiteral("--") + name + QLatin1Char(' ') + found.value() +
                   QStringLiteral(": ") + problem;
    }
    request.filter.station = options.station;
    const RecordFilter &filter = request.filter;
    if (filter.since.isValid() && filter.until.isValid() && filter.since >= filter.until)
        return QStringLiteral("--since must come before --until");
    return QString();
}

// ---- A record's fields, as every report names them

template <typename T> QJsonValue numberOrNull(const std::optional<T> &value)
{
    return value ? QJsonValue(qint64(*value)) : QJsonValue();
}

QJsonValue utcOrNull(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue();
}

QString localTimeText(const QDateTime &time)
{
    return localText(time, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString hexOrEmpty(const std::optional<uint32_t> &value)
{
    return value ? toHexText(*value, 8) : QString();
}

QString millisText(const std::optional<qint64> &value)
{
    return value ? QString::number(*value) + QStringLiteral(" ms") : QString();
}

QString resultText(const UnitRecord &record)
{
    return record.passed() ? QStringLiteral("passed") : records::failureClassName(record.failure);
}

// A JSON value as a CSV cell: null is empty.
QString valueText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isDouble())
        return QString::number(qint64(value.toDouble()));
    return QString();
}

struct Field {
    const char *key;   // the JSON key and the CSV column
    const char *label; // in show and list; null: left out there
    QJsonValue (*json)(const UnitRecord &record);
    QString (*text)(const UnitRecord &record); // for a reader; null: as in CSV
};

using R = const UnitRecord &;
const Field kFields[] = {
    {"id", "Record", [](R r) { return QJsonValue(r.id); }, nullptr},
    {"uuid", "UUID", [](R r) { return QJsonValue(r.uuid); }, nullptr},
    {"started", "Started", [](R r) { return utcOrNull(r.started); },
     [](R r) { return localTimeText(r.started); }},
    {"ended", "Ended", [](R r) { return utcOrNull(r.ended); },
     [](R r) { return localTimeText(r.ended); }},
    {"station", "Station", [](R r) { return QJsonValue(r.station); }, nullptr},
    {"operatorName", "Operator", [](R r) { return QJsonValue(r.operatorName); }, nullptr},
    {"toolVersion", "Tool version", [](R r) { return QJsonValue(r.toolVersion); }, nullptr},
    {"unitLabel", "Unit", [](R r) { return QJsonValue(r.unitLabel); }, nullptr},
    {"boardId", "Board", [](R r) { return numberOrNull(r.boardId); },
     [](R r) { return hexOrEmpty(r.boardId); }},
    {"port", "Port", [](R r) { return QJsonValue(r.port); }, nullptr},
    {"subcommand", "Subcommand", [](R r) { return QJsonValue(r.subcommand); }, nullptr},
    {"jobHash", "Job", [](R r) { return QJsonValue(r.jobHash); }, nullptr},
    {"imageSha256", "Image SHA-256", [](R r) { return QJsonValue(r.imageSha256); }, nullptr},
    {"imageCrc", "Image CRC", [](R r) { return numberOrNull(r.imageCrc); },
     [](R r) { return hexOrEmpty(r.imageCrc); }},
    {"serial", "Serial", [](R r) { return QJsonValue(r.serial); }, nullptr},
    {"targetId", "Target ID", [](R r) { return numberOrNull(r.targetId); },
     [](R r) { return hexOrEmpty(r.targetId); }},
    {"passed", nullptr, [](R r) { return QJsonValue(r.passed()); }, nullptr},
    {"failure", "Result",
     [](R r) {
         return r.passed() ? QJsonValue() : QJsonValue(records::failureClassName(r.failure));
     },
     resultText},
    {"resultCode", "Code", [](R r) { return numberOrNull(r.resultCode); }, nullptr},
    {"exitCode", "Exit", [](R r) { return QJsonValue(r.exitCode); }, nullptr},
    {"initMs", "Init", [](R r) { return numberOrNull(r.initMs); },
     [](R r) { return millisText(r.initMs); }},
    {"writeMs", "Write", [](R r) { return numberOrNull(r.writeMs); },
     [](R r) { return millisText(r.writeMs); }},
    {"checkMs", "Check", [](R r) { return numberOrNull(r.checkMs); },
     [](R r) { return millisText(r.checkMs); }},
    {"previousHash", "Previous hash", [](R r) { return QJsonValue(r.previousHash); }, nullptr},
    {"hash", "Hash", [](R r) { return QJsonValue(r.hash); }, nullptr},
};

const Field &fieldNamed(const char *key)
{
    for (const Field &field : kFields) {
        if (qstrcmp(field.key, key) == 0)
            return field;
    }
    Q_UNREACHABLE();
}

// For a reader: "-" where the record has nothing.
QString fieldText(const Field &field, const UnitRecord &record)
{
    const QString text = field.text ? field.text(record) : valueText(field.json(record));
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QJsonObject recordObject(const UnitRecord &record)
{
    QJsonObject object;
    for (const Field &field : kFields)
        object.insert(QString::fromLatin1(field.key), field.json(record));
    return object;
}

QJsonArray recordArray(const QList<UnitRecord> &records)
{
    QJsonArray array;
    for (const UnitRecord &record : records)
        array.append(recordObject(record));
    return array;
}

void addRecords(SubcommandResult &result, const QList<UnitRecord> &records)
{
    result.details.insert(QStringLiteral("records"), recordArray(records));
    result.details.insert(QStringLiteral("count"), records.size());
}

// ---- Text

QString countText(qint64 count, const char *one, const char *many)
{
    return QString::number(count) + QLatin1Char(' ') + QString::fromLatin1(count == 1 ? one : many);
}

QString recordCount(qint64 count)
{
    return countText(count, "record", "records");
}

// Columns as wide as their widest cell, two spaces apart; numbers right-aligned.
QStringList tableLines(const QList<QStringList> &rows, const QVector<bool> &rightAligned)
{
    QVector<int> widths;
    for (const QStringList &row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (int i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row.at(i).size());
    }
    QStringList lines;
    for (const QStringList &row : rows) {
        QStringList cells;
        for (int i = 0; i < row.size(); ++i)
            cells << (rightAligned.value(i) ? row.at(i).rightJustified(widths[i])
                                            : row.at(i).leftJustified(widths[i]));
        QString line = cells.join(QStringLiteral("  "));
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        lines << line;
    }
    return lines;
}

void fail(SubcommandResult &result, int exitCode, const QString &error)
{
    result.exitCode = exitCode;
    result.error = error;
}

// ---- The actions

// The filtered records, newest first; false, with the result failed, when the store fails.
bool fetch(RecordStore &store, const RecordFilter &filter, SubcommandResult &result,
           QList<UnitRecord> &records)
{
    QString error;
    records = store.list(filter, &error);
    if (error.isEmpty())
        return true;
    fail(result, NoBoard,
         QStringLiteral("cannot read the records of ") + store.address().display() +
             QStringLiteral(": ") + error);
    return false;
}

const char *const kListColumns[] = {"started", "station",   "boardId", "port",      "subcommand",
                                    "serial",  "unitLabel", "failure", "resultCode"};

QStringList recordTable(const QList<UnitRecord> &records)
{
    QList<QStringList> rows;
    QStringList header;
    for (const char *key : kListColumns)
        header << QString::fromLatin1(fieldNamed(key).label);
    rows << header;
    for (const UnitRecord &record : records) {
        QStringList row;
        for (const char *key : kListColumns)
            row << fieldText(fieldNamed(key), record);
        rows << row;
    }
    QVector<bool> rightAligned(header.size(), false);
    rightAligned.last() = true;
    return tableLines(rows, rightAligned);
}

void listAction(const Options &, const Request &request, RecordStore &store,
                SubcommandResult &result)
{
    QList<UnitRecord> records;
    if (!fetch(store, request.filter, result, records))
        return;
    addRecords(result, records);
    if (!records.isEmpty())
        result.summary = recordTable(records);
    result.summary << recordCount(records.size());
}

QStringList recordBlock(const UnitRecord &record)
{
    QStringList lines;
    for (const Field &field : kFields) {
        if (field.label)
            lines << (QString::fromLatin1(field.label) + QLatin1Char(':')).leftJustified(15) +
                         fieldText(field, record);
    }
    return lines;
}

void showAction(const Options &options, const Request &, RecordStore &store,
                SubcommandResult &result)
{
    RecordFilter filter;
    filter.serial = options.actionArgument;
    QList<UnitRecord> records;
    if (!fetch(store, filter, result, records))
        return;
    std::reverse(records.begin(), records.end());
    result.details.insert(QStringLiteral("serial"), filter.serial);
    addRecords(result, records);
    if (records.isEmpty()) {
        fail(result, OperationFailed, QStringLiteral("no record of serial ") + filter.serial);
        return;
    }
    for (int i = 0; i < records.size(); ++i) {
        if (i > 0)
            result.summary << QString();
        result.summary << QStringLiteral("Attempt %1 of %2").arg(i + 1).arg(records.size());
        result.summary << recordBlock(records.at(i));
    }
}

// The attempts of one group, and how each unit fared: a unit's first and last attempt.
struct Tally {
    int attempts = 0;
    QHash<QString, QPair<bool, bool>> units; // first attempt passed, last attempt passed
    QMap<FailureClass, int> failures;

    // Oldest first.
    void add(const UnitRecord &record);
    int unitsWhere(bool QPair<bool, bool>::*attempt) const;
};

// A unit is what its label or serial names; a record with neither is a unit of its own.
QString unitIdentity(const UnitRecord &record)
{
    if (!record.unitLabel.isEmpty())
        return QStringLiteral("unit ") + record.unitLabel;
    if (!record.serial.isEmpty())
        return QStringLiteral("serial ") + record.serial;
    return QStringLiteral("record ") + QString::number(record.id);
}

void Tally::add(const UnitRecord &record)
{
    ++attempts;
    const QString unit = unitIdentity(record);
    const bool passed = record.passed();
    const auto found = units.find(unit);
    if (found == units.end())
        units.insert(unit, qMakePair(passed, passed));
    else
        found->second = passed;
    if (!passed)
        ++failures[record.failure];
}

int Tally::unitsWhere(bool QPair<bool, bool>::*attempt) const
{
    return int(std::count_if(units.cbegin(), units.cend(),
                             [attempt](const QPair<bool, bool> &unit) { return unit.*attempt; }));
}

QJsonValue ratio(int count, int units)
{
    return units > 0 ? QJsonValue(double(count) / units) : QJsonValue();
}

QString percentText(int count, int units)
{
    return units > 0 ? QString::number(100.0 * count / units, 'f', 1) + QLatin1Char('%')
                     : QStringLiteral("-");
}

QJsonObject tallyObject(const Tally &tally)
{
    QJsonObject failures;
    for (auto it = tally.failures.cbegin(); it != tally.failures.cend(); ++it)
        failures.insert(records::failureClassName(it.key()), it.value());
    const int units = tally.units.size();
    return {
        {QStringLiteral("attempts"), tally.attempts},
        {QStringLiteral("units"), units},
        {QStringLiteral("firstPassYield"),
         ratio(tally.unitsWhere(&QPair<bool, bool>::first), units)},
        {QStringLiteral("finalYield"), ratio(tally.unitsWhere(&QPair<bool, bool>::second), units)},
        {QStringLiteral("failures"), failures}};
}

// "no-target 2, check-mismatch 1"
QString failuresText(const Tally &tally)
{
    QStringList parts;
    for (auto it = tally.failures.cbegin(); it != tally.failures.cend(); ++it)
        parts << records::failureClassName(it.key()) + QLatin1Char(' ') +
                     QString::number(it.value());
    return parts.isEmpty() ? QStringLiteral("-") : parts.join(QStringLiteral(", "));
}

QStringList tallyRow(const QString &key, const Tally &tally)
{
    const int units = tally.units.size();
    return {key,
            QString::number(tally.attempts),
            QString::number(units),
            percentText(tally.unitsWhere(&QPair<bool, bool>::first), units),
            percentText(tally.unitsWhere(&QPair<bool, bool>::second), units),
            failuresText(tally)};
}

void yieldAction(const Options &, const Request &request, RecordStore &store,
                 SubcommandResult &result)
{
    const Grouping &grouping = *groupingNamed(request.by);
    QList<UnitRecord> records;
    if (!fetch(store, request.filter, result, records))
        return;
    std::reverse(records.begin(), records.end());
    QMap<QString, Tally> groups;
    Tally total;
    for (const UnitRecord &record : records) {
        groups[grouping.key(record)].add(record);
        total.add(record);
    }
    QList<QStringList> rows{{QString::fromLatin1(grouping.heading), QStringLiteral("Attempts"),
                             QStringLiteral("Units"), QStringLiteral("First pass"),
                             QStringLiteral("Final"), QStringLiteral("Failures")}};
    QJsonArray groupArray;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        rows << tallyRow(it.key().isEmpty() ? QStringLiteral("(none)") : it.key(), it.value());
        QJsonObject group = tallyObject(it.value());
        group.insert(QStringLiteral("key"), it.key());
        groupArray.append(group);
    }
    rows << tallyRow(QStringLiteral("total"), total);
    result.summary = tableLines(rows, {false, true, true, true, true, false});
    result.details.insert(QStringLiteral("by"), request.by);
    result.details.insert(QStringLiteral("groups"), groupArray);
    result.details.insert(QStringLiteral("total"), tallyObject(total));
}

// RFC 4180: a cell with a comma, a quote or a line end is quoted, its quotes doubled.
QString csvCell(QString text)
{
    static const QRegularExpression special(QStringLiteral("[,\"\r\n]"));
    if (!text.contains(special))
        return text;
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QStringList csvLines(const QList<UnitRecord> &records)
{
    QStringList header;
    for (const Field &field : kFields)
        header << QString::fromLatin1(field.key);
    QStringList lines{header.join(QLatin1Char(','))};
    for (const UnitRecord &record : records) {
        QStringList cells;
        for (const Field &field : kFields)
            cells << csvCell(valueText(field.json(record)));
        lines << cells.join(QLatin1Char(','));
    }
    return lines;
}

QStringList jsonLines(const QList<UnitRecord> &records)
{
    const QByteArray text = QJsonDocument(recordArray(records)).toJson(QJsonDocument::Indented);
    QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void writeExport(const Request &request, const QStringList &lines, int count,
                 SubcommandResult &result)
{
    result.details.insert(QStringLiteral("output"), request.output);
    result.details.insert(QStringLiteral("count"), count);
    const QByteArray bytes = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (!config::replaceRegularFile(request.output, bytes)) {
        fail(result, OperationFailed, QStringLiteral("cannot write ") + request.output);
        return;
    }
    result.summary << recordCount(count) + QStringLiteral(" written to ") + request.output;
}

// Oldest first, as a spreadsheet or a log reads.
void exportAction(const Options &, const Request &request, RecordStore &store,
                  SubcommandResult &result)
{
    QList<UnitRecord> records;
    if (!fetch(store, request.filter, result, records))
        return;
    std::reverse(records.begin(), records.end());
    const QStringList lines =
        request.format == QLatin1String("json") ? jsonLines(records) : csvLines(records);
    if (!request.output.isEmpty()) {
        writeExport(request, lines, records.size(), result);
        return;
    }
    // Under --json the records come in the result line; a reader gets the lines themselves.
    addRecords(result, records);
    result.summary = lines;
}

void verifyAction(const Options &, const Request &, RecordStore &store, SubcommandResult &result)
{
    QString error;
    const records::ChainCheck check = store.verify(&error);
    if (!error.isEmpty()) {
        fail(result, NoBoard,
             QStringLiteral("cannot read the records of ") + store.address().display() +
                 QStringLiteral(": ") + error);
        return;
    }
    const bool broken = !check.intact;
    result.details.insert(QStringLiteral("records"), check.records);
    result.details.insert(QStringLiteral("intact"), check.intact);
    result.details.insert(QStringLiteral("firstBad"),
                          broken ? QJsonValue(check.firstBadId) : QJsonValue());
    result.details.insert(QStringLiteral("problem"),
                          broken ? QJsonValue(check.problem) : QJsonValue());
    result.summary << recordCount(check.records) + QStringLiteral(", ") +
                          (broken ? check.problem : QStringLiteral("chain intact"));
    if (broken)
        fail(result, OperationFailed, check.problem);
}

struct Action {
    const char *name;
    void (*run)(const Options &options, const Request &request, RecordStore &store,
                SubcommandResult &result);
};

const Action kActions[] = {
    {"list", listAction},     {"show", showAction},     {"yield", yieldAction},
    {"export", exportAction}, {"verify", verifyAction},
};

const Action *actionNamed(const QString &name)
{
    for (const Action &action : kActions) {
        if (name == QLatin1String(action.name))
            return &action;
    }
    return nullptr;
}

// ---- The spool

// How many records wait in the spool; nothing when the spool cannot be read.
std::optional<int> waiting(const records::Spool &spool)
{
    QString error;
    const int count = spool.pending(&error);
    return error.isEmpty() ? std::optional<int>(count) : std::nullopt;
}

QString waitingText(const records::Spool &spool, std::optional<int> count)
{
    if (!count)
        return QStringLiteral("the spool ") + spool.path() + QStringLiteral(" cannot be read");
    return countText(*count, "record waits", "records wait") + QStringLiteral(" in the spool ") +
           spool.path();
}

// Records in the spool are not in the store yet: a report of the store alone would miss them.
void noteWaiting(const records::StoreAddress &address, Output &output)
{
    const records::Spool spool(address);
    const std::optional<int> count = waiting(spool);
    if (count && *count > 0)
        output.note(waitingText(spool, count) +
                    QStringLiteral(", not yet in the store (zqprog records sync forwards them)"));
}

SubcommandResult syncAction(const records::StoreAddress &address, SubcommandResult result)
{
    records::Spool spool(address);
    QString error;
    const std::unique_ptr<RecordStore> store = RecordStore::open(address, &error);
    std::optional<int> forwarded;
    if (store)
        forwarded = spool.forward(*store, &error);
    const std::optional<int> pending = waiting(spool);
    result.details.insert(QStringLiteral("forwarded"),
                          forwarded ? QJsonValue(*forwarded) : QJsonValue());
    result.details.insert(QStringLiteral("pending"), pending ? QJsonValue(*pending) : QJsonValue());
    if (!forwarded) {
        fail(result, NoBoard,
             QStringLiteral("cannot reach the record store ") + address.display() +
                 QStringLiteral(": ") + error + QStringLiteral("; ") + waitingText(spool, pending));
        return result;
    }
    result.summary << QStringLiteral("forwarded ") + recordCount(*forwarded) +
                          QStringLiteral(" to ") + address.display()
                   << waitingText(spool, pending);
    return result;
}

SubcommandResult failed(SubcommandResult result, int exitCode, const QString &error)
{
    fail(result, exitCode, error);
    return result;
}

QString requestProblem(const Options &options, Request &request)
{
    const bool sync = options.action == QLatin1String("sync");
    if (!sync && !actionNamed(options.action))
        return QStringLiteral("records needs an action: list, show, yield, export, verify or sync");
    if (options.action == QLatin1String("show") && options.actionArgument.isEmpty())
        return QStringLiteral("records show needs a SERIAL");
    return readRequest(options, request);
}

} // namespace

SubcommandResult runRecordsCommand(const Options &options, Output &output)
{
    SubcommandResult result;
    result.subcommand = QStringLiteral("records");
    result.details.insert(QStringLiteral("action"), options.action);
    Request request;
    const QString problem = requestProblem(options, request);
    if (!problem.isEmpty())
        return failed(result, UsageError, problem);
    const StoreChoice choice = chooseStore(options);
    if (!choice.address)
        return failed(result, UsageError,
                      choice.error.isEmpty()
                          ? QStringLiteral("no record store to read: ") + choice.why
                          : choice.error);
    if (options.action == QLatin1String("sync"))
        return syncAction(*choice.address, result);
    QString error;
    const std::unique_ptr<RecordStore> store = RecordStore::open(*choice.address, &error);
    if (!store)
        return failed(result, NoBoard,
                      QStringLiteral("cannot reach the record store ") + choice.address->display() +
                          QStringLiteral(": ") + error);
    noteWaiting(*choice.address, output);
    actionNamed(options.action)->run(options, request, *store, result);
    return result;
}

} // namespace zq::cli
