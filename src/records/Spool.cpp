#include "records/RecordStore.h"

#include "config/RegularFile.h"
#include "records/StoreSql.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zq::records
{

namespace
{

// Holders read or write a file of a few lines and let go; a holder that died is seen through
// its process id, and one on another host sharing the folder ages out.
constexpr int kStaleLockMs = 10000;
constexpr int kLockWaitMs = 30000;
constexpr qint64 kMaxSpoolBytes = qint64(1) << 30;

struct Entry {
    UnitRecord record;
    std::optional<Reservation> reservation;
    SerialOutcome outcome = SerialOutcome::Used;
};

template <typename T> QJsonValue number(const std::optional<T> &value)
{
    return value ? QJsonValue(double(*value)) : QJsonValue();
}

template <typename T> std::optional<T> numberOf(const QJsonValue &value)
{
    return value.isDouble() ? std::optional<T>(T(value.toDouble())) : std::nullopt;
}

QJsonObject reservationJson(const Reservation &r)
{
    return {{"series", r.series},
            {"index", double(r.index)},
            {"serial", r.serial},
            {"jobHash", r.jobHash},
            {"reservedAt", sql::timeText(r.reservedAt)},
            {"station", r.by.station},
            {"host", r.by.host},
            {"pid", double(r.by.pid)}};
}

Reservation reservationOf(const QJsonObject &o)
{
    Reservation r;
    r.series = o.value("series").toString();
    r.index = qint64(o.value("index").toDouble(-1));
    r.serial = o.value("serial").toString();
    r.jobHash = o.value("jobHash").toString();
    r.reservedAt = sql::timeOf(o.value("reservedAt").toString());
    r.by = StationIdentity{o.value("station").toString(), o.value("host").toString(),
                           qint64(o.value("pid").toDouble())};
    return r;
}

QJsonObject lineJson(const UnitRecord &r, const std::optional<Reservation> &reservation,
                     SerialOutcome outcome)
{
    return {{"uuid", r.uuid},
            {"started", sql::timeText(r.started)},
            {"ended", sql::timeText(r.ended)},
            {"station", r.station},
            {"operator", r.operatorName},
            {"toolVersion", r.toolVersion},
            {"unitLabel", r.unitLabel},
            {"boardId", number(r.boardId)},
            {"port", r.port},
            {"subcommand", r.subcommand},
            {"jobHash", r.jobHash},
            {"imageSha256", r.imageSha256},
            {"imageCrc", number(r.imageCrc)},
            {"serial", r.serial},
            {"targetId", number(r.targetId)},
            {"failure", failureClassName(r.failure)},
            {"resultCode", number(r.resultCode)},
            {"exitCode", r.exitCode},
            {"initMs", number(r.initMs)},
            {"writeMs", number(r.writeMs)},
            {"checkMs", number(r.checkMs)},
            {"reservation", reservation ? QJsonValue(reservationJson(*reservation)) : QJsonValue()},
            {"outcome", serialOutcomeName(outcome)}};
}

UnitRecord recordOf(const QJsonObject &o)
{
    UnitRecord r;
    r.uuid = o.value("uuid").toString();
    r.started = sql::timeOf(o.value("started").toString());
    r.ended = sql::timeOf(o.value("ended").toString());
    r.station = o.value("station").toString();
    r.operatorName = o.value("operator").toString();
    r.toolVersion = o.value("toolVersion").toString();
    r.unitLabel = o.value("unitLabel").toString();
    r.boardId = numberOf<uint32_t>(o.value("boardId"));
    r.port = o.value("port").toString();
    r.subcommand = o.value("subcommand").toString();
    r.jobHash = o.value("jobHash").toString();
    r.imageSha256 = o.value("imageSha256").toString();
    r.imageCrc = numberOf<uint32_t>(o.value("imageCrc"));
    r.serial = o.value("serial").toString();
    r.targetId = numberOf<uint32_t>(o.value("targetId"));
    r.resultCode = numberOf<int>(o.value("resultCode"));
    r.exitCode = o.value("exitCode").toInt();
    r.initMs = numberOf<qint64>(o.value("initMs"));
    r.writeMs = numberOf<qint64>(o.value("writeMs"));
    r.checkMs = numberOf<qint64>(o.value("checkMs"));
    return r;
}

std::optional<SerialOutcome> outcomeOf(const QString &name)
{
    for (SerialOutcome outcome :
         {SerialOutcome::Used, SerialOutcome::Released, SerialOutcome::Voided}) {
        if (serialOutcomeName(outcome) == name)
            return outcome;
    }
    return std::nullopt;
}

// The entry, or why the line is none.
std::optional<Entry> entryOf(const QByteArray &line, QString *problem)
{
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parse);
    const QJsonObject o = document.object();
    const auto failure = failureClassForName(o.value("failure").toString());
    const auto outcome = outcomeOf(o.value("outcome").toString());
    const QJsonValue reservation = o.value("reservation");
    if (!document.isObject())
        *problem = parse.error != QJsonParseError::NoError ? parse.errorString()
                                                           : QStringLiteral("not a JSON object");
    else if (o.value("uuid").toString().isEmpty() || !o.contains("failure") || !failure ||
             !outcome || !(reservation.isNull() || reservation.isObject()))
        *problem = QStringLiteral("no uuid, failure, outcome or reservation of a record");
    else
        problem->clear();
    if (!problem->isEmpty())
        return std::nullopt;
    Entry entry{recordOf(o), std::nullopt, *outcome};
    entry.record.failure = *failure;
    if (reservation.isObject())
        entry.reservation = reservationOf(reservation.toObject());
    return entry;
}

bool syncToDisk(QFile &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

// A new file's name lasts a power cut only once its folder is on the disk as well.
void syncFolder(const QString &folder)
{
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder)
#endif
}

QString lockPathOf(const QString &spoolPath)
{
    return QFileInfo(spoolPath).path() + QLatin1Char('/') +
           QFileInfo(spoolPath).completeBaseName() + QStringLiteral(".lock");
}

// Holds the spool's lock file while it lives.
class SpoolLock
{
public:
    explicit SpoolLock(const QString &spoolPath) : path_(lockPathOf(spoolPath)), lock_(path_)
    {
        lock_.setStaleLockTime(kStaleLockMs);
        locked_ = QDir().mkpath(QFileInfo(spoolPath).path()) && lock_.tryLock(kLockWaitMs);
    }
    bool held(const QString &spoolPath, QString *error) const
    {
        if (!locked_)
            *error = QStringLiteral("cannot lock the spool %1 (%2 is held or cannot be made)")
                         .arg(spoolPath, path_);
        return locked_;
    }

private:
    QString path_;
    QLockFile lock_;
    bool locked_ = false;
};

// The spool's lines, blank ones left out, with their line numbers; none when there is no file.
struct Lines {
    QList<QByteArray> lines;
    QList<int> numbers;
};

std::optional<Lines> readLines(const QString &path, QString *error)
{
    QByteArray bytes;
    const config::FileProblem problem = config::readRegularFile(path, kMaxSpoolBytes, bytes);
    if (problem != config::FileProblem::None && problem != config::FileProblem::Missing) {
        *error = QStringLiteral("cannot read the spool %1: %2")
                     .arg(path, config::fileProblemText(problem));
        return std::nullopt;
    }
    Lines read;
    const QList<QByteArray> all = bytes.split('\n');
    for (int i = 0; i < all.size(); ++i) {
        if (!all[i].trimmed().isEmpty()) {
            read.lines << all[i];
            read.numbers << i + 1;
        }
    }
    return read;
}

// What stays after the forwarded lines leave. Lines another process appended meanwhile stay;
// one another forwarder took away already is not missed.
bool removeForwarded(const QString &path, const QList<QByteArray> &forwarded, QString *error)
{
    const SpoolLock lock(path);
    std::optional<Lines> now = lock.held(path, error) ? readLines(path, error) : std::nullopt;
    if (!now)
        return false;
    for (const QByteArray &line : forwarded)
        now->lines.removeOne(line);
    if (now->lines.isEmpty()) {
        if (!QFile::exists(path) || QFile::remove(path))
            return true;
        *error = QStringLiteral("cannot remove the emptied spool %1").arg(path);
        return false;
    }
    QByteArray bytes;
    for (const QByteArray &line : now->lines)
        bytes += line + '\n';
    if (config::replaceRegularFile(path, bytes))
        return true;
    *error = QStringLiteral("cannot rewrite the spool %1").arg(path);
    return false;
}

// Appends whole lines: after a torn last line (a crash mid-write) a new line starts first, so
// that the torn one stays a line of its own, kept and reported, and this one stays whole.
bool appendLine(QFile &file, QByteArray line)
{
    const qint64 size = file.size();
    char last = '\n';
    if (size > 0 && !(file.seek(size - 1) && file.getChar(&last)))
        return false;
    if (last != '\n')
        line.prepend('\n');
    return file.seek(size) && file.write(line) == line.size() && syncToDisk(file);
}

} // namespace

Spool::Spool(const StoreAddress &address)
    : path_(dataFolder() + QStringLiteral("/spool/") + address.spoolKey() +
            QStringLiteral(".jsonl"))
{
}

bool Spool::add(const UnitRecord &record, const std::optional<Reservation> &reservation,
                SerialOutcome outcome, QString *error)
{
    const SpoolLock lock(path_);
    if (!lock.held(path_, error))
        return false;
    const config::FileType type = config::fileTypeOf(path_);
    if (type != config::FileType::Missing && type != config::FileType::Regular) {
        *error = QStringLiteral("the spool %1 %2").arg(path_, config::fileTypeText(type));
        return false;
    }
    QFile file(path_);
    const QByteArray line =
        QJsonDocument(lineJson(record, reservation, outcome)).toJson(QJsonDocument::Compact) + '\n';
    if (!file.open(QIODevice::ReadWrite) || !appendLine(file, line)) {
        *error = QStringLiteral("cannot write the spool %1: %2").arg(path_, file.errorString());
        return false;
    }
    if (type == config::FileType::Missing)
        syncFolder(QFileInfo(path_).path());
    return true;
}

int Spool::pending(QString *error) const
{
    const SpoolLock lock(path_);
    const std::optional<Lines> read =
        lock.held(path_, error) ? readLines(path_, error) : std::nullopt;
    return read ? read->lines.size() : 0;
}

std::optional<int> Spool::forward(RecordStore &store, QString *error)
{
    // The lock is not held while the store works: finish() may wait long on a busy store, and a
    // record forwarded by two processes at once is stored once all the same.
    std::optional<Lines> read;
    {
        const SpoolLock lock(path_);
        if (lock.held(path_, error))
            read = readLines(path_, error);
    }
    if (!read)
        return std::nullopt;
    QList<QByteArray> forwarded;
    bool stopped = false;
    for (int i = 0; i < read->lines.size() && !stopped; ++i) {
        QString problem;
        std::optional<Entry> entry = entryOf(read->lines[i], &problem);
        if (!entry) {
            *error = QStringLiteral("line %1 of the spool %2 is no record (%3); it stays there")
                         .arg(read->numbers[i])
                         .arg(path_, problem);
            stopped = true;
        } else if (!store.finish(entry->record, entry->reservation, entry->outcome, error)) {
            stopped = true;
        } else {
            forwarded << read->lines[i];
        }
    }
    QString removeError;
    if (!forwarded.isEmpty() && !removeForwarded(path_, forwarded, &removeError)) {
        *error = stopped ? *error + QStringLiteral("; ") + removeError : removeError;
        return std::nullopt;
    }
    return stopped ? std::nullopt : std::optional<int>(forwarded.size());
}

} // namespace zq::records
