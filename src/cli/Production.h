#pragma once

// The production bookkeeping of a zqprog run: which record store it writes to, the serial
// number it reserves and patches into the image, and the record it leaves of the unit (in the
// store, or in the spool when the store cannot be reached). The store itself is records/.

#include "cli/Output.h"
#include "records/RecordStore.h"

#include <QString>

#include <memory>
#include <optional>

namespace zq::ops
{
struct LoadedImage;
}

namespace zq::cli
{

struct Options;

// Where a run's records go. Emulated boards keep none unless --records names a store, so
// rehearsals and tests never mix into a line's records.
struct StoreChoice {
    std::optional<records::StoreAddress> address; // none: no records are kept
    QString why;   // when none: "--no-records", "emulated boards keep no records without --records"
    QString error; // --records names no store that can be used (a bad URL): a usage error
};
StoreChoice chooseStore(const Options &options);

// Who writes: --station (else the host name), this host and this process.
records::StationIdentity thisStation(const Options &options);
// --operator, else the login name.
QString operatorName(const Options &options);
// Whether a process of this host still runs (a reservation's owner).
bool processAlive(qint64 pid);

// One run's records. Made before any board is touched; it may refuse the run then (a serial job
// whose store cannot be reached, a job at its limit).
class ProductionRun
{
public:
    // Null and refusal's exit code and error set when the run must not start; null with no
    // error when no records are kept. Forwards the spool and voids this station's abandoned
    // reservations first (and says so through output).
    static std::unique_ptr<ProductionRun> start(const Options &options, Output &output,
                                                SubcommandResult &refusal);
    ~ProductionRun();

    // The board has identified itself and the operation is about to start: reserves the serial
    // number (committed before it returns) and writes it into the image. Empty, or why the unit
    // is refused (the series is used up, the limit is reached, the store failed).
    QString beforeOperation(SubcommandResult &run, ops::LoadedImage &image);

    // The run is over: settles the serial number, stores the record (or spools it) and adds what
    // it did to the result ("serial", "record").
    void finish(SubcommandResult &result);

private:
    ProductionRun(const Options &options, Output &output);

    struct State;
    std::unique_ptr<State> state_;
};

} // namespace zq::cli
