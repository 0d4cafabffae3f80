#include "cli/Production.h"

#include "cli/Boards.h"
#include "cli/CommandLine.h"
#include "common/Crc32.h"
#include "operations/ImageFile.h"
#include "operations/Operations.h"
#include "protocol/Transaction.h"
#include "records/Job.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QSysInfo>
#include <QUuid>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#endif

namespace zq::cli
{

using records::FailureClass;
using records::SerialOutcome;

StoreChoice chooseStore(const Options &options)
{
    StoreChoice choice;
    if (options.noRecords) {
        choice.why = QStringLiteral("--no-records");
        return choice;
    }
    if (options.records.isEmpty() && options.emulated) {
        choice.why = QStringLiteral("emulated boards keep no records without --records");
        return choice;
    }
    if (options.records.isEmpty()) {
        choice.address = records::StoreAddress{};
        choice.address->path = records::defaultStorePath();
        return choice;
    }
    choice.address = records::parseStoreAddress(options.records, &choice.error);
    if (!choice.address && !choice.error.startsWith(QLatin1String("--records")))
        choice.error =
            QStringLiteral("--records ") + options.records + QStringLiteral(": ") + choice.error;
    return choice;
}

records::StationIdentity thisStation(const Options &options)
{
    const QString host = QSysInfo::machineHostName();
    return {options.station.isEmpty() ? host : options.station, host,
            QCoreApplication::applicationPid()};
}

QString operatorName(const Options &options)
{
    if (!options.operatorName.isEmpty())
        return options.operatorName;
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? qEnvironmentVariable("USERNAME") : user;
}

bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
#if defined(_WIN32)
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD status = 0;
    const bool running = GetExitCodeProcess(process, &status) && status == STILL_ACTIVE;
    CloseHandle(process);
    return running;
#else
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#endif
}

namespace
{

// How a failed attempt is classed, and whether its serial number may have reached the target.
struct Judgement {
    FailureClass failure = FailureClass::None;
    bool mayHaveWritten = true;
};

Judgement byReply(const SubcommandResult &run, FailureClass otherwise)
{
    return {run.facts.lastExchange == protocol::NoReply ? FailureClass::NoReply : otherwise, true};
}

Judgement judgeTargetCode(const SubcommandResult &run, int code)
{
    const bool wrote = run.facts.writeMs.has_value();
    switch (code) {
    case ops::program::ShortImage:
    case ops::program::UnknownTarget:
        return {FailureClass::Refused, false};
    case ops::program::InitOrRunFailed:
        return {byReply(run, FailureClass::NoTarget).failure, wrote};
    case ops::program::BlockFailed:
    case ops::program::LastBlockFailed:
        return byReply(run, FailureClass::WriteFailed);
    case ops::program::LostAfterBlock:
    case ops::program::LostAtEnd:
        return {FailureClass::BoardLost, true};
    case 0: // written and checked, but the target did not run
        return {FailureClass::NoTarget, true};
    default:
        return byReply(run, FailureClass::CheckMismatch);
    }
}

Judgement judgeProgrammerCode(const SubcommandResult &run, int code)
{
    const QString &subcommand = run.subcommand;
    if (code == 0) // the programmer did not come back after an update
        return {FailureClass::BoardLost, true};
    if (code == -1 || (code == -2 && subcommand != QLatin1String("check")))
        return {FailureClass::Refused, false}; // short or too large: nothing sent
    const bool download = subcommand == QLatin1String("download");
    const bool lost = download
                          ? code == ops::download::ProgrammerLost
                          : code == ops::update::LostAfterBlock || code == ops::update::LostAtEnd;
    if (lost && subcommand != QLatin1String("check"))
        return {FailureClass::BoardLost, true};
    const bool write =
        download ? code == ops::download::WriteFailed : code == ops::update::BlockFailed;
    if (write && subcommand != QLatin1String("check"))
        return byReply(run, FailureClass::WriteFailed);
    return byReply(run, FailureClass::CheckMismatch);
}

Judgement judge(const SubcommandResult &run)
{
    if (run.exitCode == Success)
        return {FailureClass::None, true};
    if (run.exitCode == Interrupted)
        return {FailureClass::Interrupted, run.facts.writeMs.has_value()};
    if (!run.code)
        return {FailureClass::Refused, false};
    if (*run.code == ops::kProgrammerNotOpen)
        return {FailureClass::BoardLost, false};
    if (*run.code == ops::kInputRefused)
        return {FailureClass::Refused, false};
    if (run.facts.boardLeft)
        return {FailureClass::BoardLost, true};
    const bool target =
        run.subcommand == QLatin1String("program") || run.subcommand == QLatin1String("verify");
    return target ? judgeTargetCode(run, *run.code) : judgeProgrammerCode(run, *run.code);
}

// The exit status of a record whose run ended without one (a crash, kill -9, a power cut).
constexpr int kNoExitStatus = -1;

SerialOutcome outcomeOf(const Judgement &judgement)
{
    if (judgement.failure == FailureClass::None)
        return SerialOutcome::Used;
    return judgement.mayHaveWritten ? SerialOutcome::Voided : SerialOutcome::Released;
}

QJsonObject reservationObject(const records::Reservation &reservation)
{
    return {{QStringLiteral("serial"), reservation.serial},
            {QStringLiteral("series"), reservation.series},
            {QStringLiteral("reservedAt"), reservation.reservedAt.toString(Qt::ISODateWithMs)},
            {QStringLiteral("pid"), reservation.by.pid}};
}

} // namespace

struct ProductionRun::State {
    State(const Options &given, Output &out)
        : options(given), output(out), station(thisStation(given))
    {
    }

    Options options;
    Output &output;
    records::StationIdentity station;
    records::StoreAddress address;
    std::unique_ptr<records::RecordStore> store; // null: the records go to the spool
    QDateTime started = QDateTime::currentDateTimeUtc();
    std::optional<records::Reservation> reservation;
    QJsonArray voided; // this station's abandoned reservations, voided at the start

    const records::Job *job() const { return options.job ? &*options.job : nullptr; }
    bool hasSerials() const { return job() && job()->serial; }
};

ProductionRun::ProductionRun(const Options &options, Output &output)
    : state_(std::make_unique<State>(options, output))
{
}

ProductionRun::~ProductionRun() = default;

namespace
{

SubcommandResult &refuse(SubcommandResult &refusal, int exitCode, const QString &error)
{
    refusal.exitCode = exitCode;
    refusal.error = error;
    return refusal;
}

// A run that ended without an outcome left no record of its own: its attempt is recorded as
// interrupted, with what the reservation knew of it.
void recordAbandoned(records::RecordStore &store, const records::Reservation &lost)
{
    records::UnitRecord record;
    record.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.started = lost.reservedAt;
    record.ended = QDateTime::currentDateTimeUtc();
    record.station = lost.by.station;
    record.toolVersion = versionLine();
    record.subcommand = QStringLiteral("program");
    record.jobHash = lost.jobHash;
    record.serial = lost.serial;
    record.failure = FailureClass::Interrupted;
    record.exitCode = kNoExitStatus;
    QString error;
    store.finish(record, std::nullopt, SerialOutcome::Voided, &error);
}

// What was left waiting: the spool's records go first, then this station's reservations that
// lost their run (a crash, a kill -9) are voided, after their outcomes had the chance to arrive.
void catchUp(records::RecordStore &store, Output &output, QJsonArray &voided,
             const records::StationIdentity &station)
{
    QString error;
    const std::optional<int> forwarded = records::Spool(store.address()).forward(store, &error);
    if (!forwarded)
        output.note(QStringLiteral("the spool could not be forwarded: ") + error);
    else if (*forwarded > 0)
        output.note(QStringLiteral("forwarded %1 records from the spool to ").arg(*forwarded) +
                    store.address().display());
    for (const records::Reservation &lost : store.voidAbandoned(station, processAlive, &error)) {
        output.note(QStringLiteral("serial ") + lost.serial + QStringLiteral(" (series ") +
                    lost.series + QStringLiteral(") was reserved at ") +
                    lost.reservedAt.toLocalTime().toString(Qt::ISODate) +
                    QStringLiteral(" by a run that ended without an outcome (process %1); it is "
                                   "voided and never handed out again")
                        .arg(lost.by.pid));
        voided.append(reservationObject(lost));
        recordAbandoned(store, lost);
    }
}

} // namespace

std::unique_ptr<ProductionRun> ProductionRun::start(const Options &options, Output &output,
                                                    SubcommandResult &refusal)
{
    const StoreChoice choice = chooseStore(options);
    if (!choice.error.isEmpty())
        return refuse(refusal, UsageError, choice.error), nullptr;
    const bool serials = options.job && options.job->serial;
    if (!choice.address) {
        if (serials)
            refuse(refusal, UsageError,
                   QStringLiteral("a job with serial numbers needs a record store to hand them "
                                  "out (") +
                       choice.why + QStringLiteral("); give --records STORE"));
        return nullptr;
    }
    std::unique_ptr<ProductionRun> run(new ProductionRun(options, output));
    State &state = *run->state_;
    state.address = *choice.address;
    QString error;
    state.store = records::RecordStore::open(state.address, &error);
    if (!state.store && serials)
        return refuse(refusal, NoBoard,
                      QStringLiteral("the record store cannot be reached, and a job with serial "
                                     "numbers does not run without it: ") +
                          error),
               nullptr;
    if (!state.store) {
        output.note(QStringLiteral("the record store cannot be reached (") + error +
                    QStringLiteral("); this run's record goes to the spool ") +
                    records::Spool(state.address).path());
        return run;
    }
    catchUp(*state.store, output, state.voided, state.station);
    if (options.job && options.job->limit) {
        const std::optional<qint64> passed = state.store->passedCount(options.job->hash(), &error);
        if (!passed)
            return refuse(refusal, NoBoard, error), nullptr;
        if (*passed >= *options.job->limit)
            return refuse(refusal, OperationFailed,
                          QStringLiteral("the job's limit of %1 units is reached (%2 passed)")
                              .arg(*options.job->limit)
                              .arg(*passed)),
                   nullptr;
    }
    return run;
}

QString ProductionRun::beforeOperation(SubcommandResult &run, ops::LoadedImage &image)
{
    State &state = *state_;
    if (!state.hasSerials())
        return QString();
    if (!state.store)
        return QStringLiteral("the record store cannot be reached");
    const records::Job &job = *state.job();
    const records::SerialPolicy &policy = *job.serial;
    const records::SerialSource source{
        policy.series, policy.count(),
        [&policy](qint64 index) { return records::serialText(policy, policy.valueAt(index)); },
        job.hash(), job.limit};
    QString error;
    state.reservation = state.store->reserve(source, state.station, &error);
    if (!state.reservation)
        return error;
    const QString unfit = records::patchSerial(image.bytes, image.base, policy,
                                               policy.valueAt(state.reservation->index));
    if (!unfit.isEmpty())
        return unfit; // finish releases the number: nothing was sent
    run.serial = state.reservation->serial;
    state.output.note(QStringLiteral("serial ") + run.serial + QStringLiteral(" (series ") +
                      policy.series + QStringLiteral(") goes into this unit"));
    if (run.image)
        run.image->crc = crc32(reinterpret_cast<const uint8_t *>(image.bytes.constData()),
                               size_t(image.bytes.size()));
    return QString();
}

namespace
{

records::UnitRecord recordOf(const SubcommandResult &result, const Options &options,
                             const QDateTime &started, FailureClass failure)
{
    records::UnitRecord record;
    record.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.started = started;
    record.ended = QDateTime::currentDateTimeUtc();
    record.station = thisStation(options).station;
    record.operatorName = operatorName(options);
    record.toolVersion = versionLine();
    record.unitLabel = options.unit;
    record.boardId = result.boardId;
    record.port = portOfPath(result.device).isEmpty() ? result.device : portOfPath(result.device);
    record.subcommand = result.subcommand;
    record.jobHash = result.jobHash;
    record.imageSha256 = result.imageSha256;
    if (result.image)
        record.imageCrc = result.image->crc;
    record.serial = result.serial;
    record.targetId = result.targetId;
    record.failure = failure;
    record.resultCode = result.code;
    record.exitCode = result.exitCode;
    record.initMs = result.facts.initMs;
    record.writeMs = result.facts.writeMs;
    record.checkMs = result.facts.checkMs;
    return record;
}

} // namespace

void ProductionRun::finish(SubcommandResult &result)
{
    State &state = *state_;
    if (!state.voided.isEmpty())
        result.details.insert(QStringLiteral("voidedSerials"), state.voided);
    // No board was chosen: there is no unit to record.
    if (result.device.isEmpty() && !state.reservation)
        return;
    const Judgement judgement = judge(result);
    records::UnitRecord record = recordOf(result, state.options, state.started, judgement.failure);
    if (state.reservation)
        record.serial = state.reservation->serial;
    QString error;
    bool stored =
        state.store && state.store->finish(record, state.reservation, outcomeOf(judgement), &error);
    QJsonObject kept{{QStringLiteral("store"), state.address.display()},
                     {QStringLiteral("failure"), records::failureClassName(judgement.failure)}};
    if (stored) {
        kept.insert(QStringLiteral("id"), record.id);
        kept.insert(QStringLiteral("hash"), record.hash);
    } else {
        records::Spool spool(state.address);
        QString spoolError;
        if (!spool.add(record, state.reservation, outcomeOf(judgement), &spoolError)) {
            result.exitCode = result.exitCode == Success ? OperationFailed : result.exitCode;
            result.error =
                QStringLiteral("the record could be neither stored nor spooled: ") + spoolError;
        } else if (state.store) {
            state.output.note(QStringLiteral("the record store was lost (") + error +
                              QStringLiteral("); the record waits in the spool ") + spool.path() +
                              QStringLiteral(" for the next run or zqprog records sync"));
        }
        kept.insert(QStringLiteral("spooled"), true);
    }
    if (!kept.contains(QStringLiteral("spooled")))
        kept.insert(QStringLiteral("spooled"), false);
    result.details.insert(QStringLiteral("record"), kept);
    result.details.insert(QStringLiteral("serial"),
                          record.serial.isEmpty() ? QJsonValue() : QJsonValue(record.serial));
    if (!result.jobHash.isEmpty())
        result.details.insert(QStringLiteral("job"), result.jobHash);
}

} // namespace zq::cli
