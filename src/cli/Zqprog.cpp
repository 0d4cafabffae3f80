#include "cli/Zqprog.h"

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/Gang.h"
#include "cli/JobCommand.h"
#include "cli/Output.h"
#include "cli/Production.h"
#include "cli/RecordsCommand.h"
#include "cli/Subcommands.h"

#include <QElapsedTimer>
#include <QLoggingCategory>

namespace zq::cli
{

namespace
{

// A script that asked for JSON gets its result line even when the command line was wrong.
int usageError(const QString &error, bool json)
{
    if (json) {
        SubcommandResult result;
        result.exitCode = UsageError;
        result.error = error;
        JsonOutput().result(result);
    } else {
        writeLine(stderr, QStringLiteral("zqprog: ") + error);
    }
    writeLine(stderr, QStringLiteral("Try 'zqprog --help' for more information."));
    return UsageError;
}

std::unique_ptr<Output> makeOutput(const Options &options, QString *error)
{
    std::unique_ptr<Output> console;
    if (options.json)
        console = std::make_unique<JsonOutput>();
    else
        console = std::make_unique<TextOutput>();
    // With --all every board's zqprog keeps its own record in the file.
    if (options.logFile.isEmpty() || options.all)
        return console;
    return LogFileOutput::open(options.logFile, std::move(console), options.arguments, error);
}

// What the operation says goes to the record while someone watches it. A gang's zqprog whose
// parent has ended stops after the frame in flight, and its operation's lines on the way out
// are not kept: the shared log gets only its closing lines (markInterrupted and the result).
class WatchedOutput : public Output
{
public:
    explicit WatchedOutput(Output &record) : record_(record) {}

    void log(const QString &line) override
    {
        if (!gangParentGone())
            record_.log(line);
    }
    void progress(int percent, Stage phase) override
    {
        if (!gangParentGone())
            record_.progress(percent, phase);
    }
    void message(const QString &title, const QString &text) override
    {
        if (!gangParentGone())
            record_.message(title, text);
    }
    void note(const QString &text) override
    {
        if (!gangParentGone())
            record_.note(text);
    }
    void identified(const SubcommandResult &run) override { record_.identified(run); }
    void result(const SubcommandResult &result) override { record_.result(result); }
    int finalExit(int exitCode) const override { return record_.finalExit(exitCode); }

private:
    Output &record_;
};

// The subcommands that work a board leave a record; a gang's records are its boards'.
bool keepsRecords(const Options &options)
{
    const SubcommandRow &row = rowOf(options.subcommand);
    return row.operation && !options.all;
}

// The emulated board's state is kept whatever the operation did: a failed or interrupted
// download leaves the flash as a real one would be left.
SubcommandResult runSubcommand(const Options &options, Output &output, ProductionRun *production)
{
    if (options.subcommand == Subcommand::Job)
        return runJobCommand(options);
    if (options.subcommand == Subcommand::Records)
        return runRecordsCommand(options, output);
    if (options.all)
        return runOnAllBoards(options, output);
    ConsoleBus bus(options);
    if (!bus.loadError().isEmpty()) {
        SubcommandResult refused;
        refused.subcommand = subcommandName(options.subcommand);
        refused.exitCode = bus.loadErrorExit();
        refused.error = bus.loadError();
        return refused;
    }
    const BeforeOperation reserve = [production](SubcommandResult &run, ops::LoadedImage &image) {
        const QString refusal = production ? production->beforeOperation(run, image) : QString();
        run.exitCode = refusal.isEmpty() ? run.exitCode : OperationFailed;
        run.error = refusal.isEmpty() ? run.error : refusal;
        return refusal.isEmpty();
    };
    SubcommandResult result = options.subcommand == Subcommand::List
                                  ? runList(bus.transport())
                                  : runOnProgrammer(options, output, bus.transport(), reserve);
    QString error;
    if (!bus.saveState(&error)) {
        result.error = result.error.isEmpty() ? error : result.error + QStringLiteral("; ") + error;
        if (result.exitCode == Success)
            result.exitCode = OperationFailed;
    }
    return result;
}

// A run the signal came too late to stop has done its work, and says so.
void markInterrupted(const Options &options, SubcommandResult &result, Output &output)
{
    if (interruptCount() <= rowOf(options.subcommand).signalsLetThrough ||
        result.exitCode == Success)
        return;
    output.log(QStringLiteral("interrupted"));
    result.exitCode = Interrupted;
    result.error = QStringLiteral("interrupted");
}

// run JOB becomes the job's operation on the job's image, or is refused before anything else.
SubcommandResult prepare(Options &options, Output &)
{
    SubcommandResult result;
    result.subcommand = subcommandName(options.subcommand);
    if (options.subcommand != Subcommand::Run)
        return result;
    const QString refusal = applyJob(options);
    if (!refusal.isEmpty()) {
        result.exitCode = OperationFailed;
        result.error = refusal;
    }
    return result;
}

int showVersion(bool json)
{
    if (json)
        writeJsonLine(versionObject());
    else
        writeLine(stdout, versionLine());
    return Success;
}

// Every layer's developer log category, on stderr through Qt's message handler.
void showDeveloperLog()
{
    QLoggingCategory::setFilterRules(QStringLiteral("zq.*.debug=true"));
}

} // namespace

int runZqprog(const QStringList &arguments)
{
    ignoreBrokenPipes();
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (!parsed.error.isEmpty())
        return usageError(parsed.error, asksForJson(arguments));
    if (parsed.options.version)
        return showVersion(parsed.options.json);
    if (parsed.options.help) {
        writeText(stdout, helpText(parsed.options.subcommand));
        return Success;
    }
    QString error;
    const std::unique_ptr<Output> output = makeOutput(parsed.options, &error);
    if (!output)
        return usageError(error, parsed.options.json);
    if (parsed.options.verbose)
        showDeveloperLog();
    installInterruptHandlers();
    QElapsedTimer clock;
    clock.start();
    WatchedOutput watched(*output);
    Options options = parsed.options;
    SubcommandResult result = prepare(options, watched);
    std::unique_ptr<ProductionRun> production;
    if (result.exitCode == Success && keepsRecords(options))
        production = ProductionRun::start(options, watched, result);
    if (result.exitCode == Success)
        result = runSubcommand(options, watched, production.get());
    markInterrupted(options, result, *output);
    if (production)
        production->finish(result);
    result.durationMs = clock.elapsed();
    output->result(result);
    return output->finalExit(result.exitCode);
}

} // namespace zq::cli
