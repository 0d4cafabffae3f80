#include "Zqprog.h"

#include "CommandLine.h"
#include "Commands.h"
#include "ConsoleBus.h"
#include "ConsoleStreams.h"
#include "ExitCode.h"
#include "HelpText.h"
#include "JsonOutput.h"
#include "LogFileOutput.h"
#include "TextOutput.h"

namespace zq::cli
{

namespace
{

int usageError(const QString &error)
{
    writeLine(stderr, QStringLiteral("zqprog: ") + error);
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
    if (options.logFile.isEmpty())
        return console;
    return LogFileOutput::open(options.logFile, std::move(console), error);
}

// The emulated board's state is kept whatever the operation did: a failed download leaves
// the flash as a real one would be left.
CommandResult runCommand(const Options &options, Output &output)
{
    ConsoleBus bus(options);
    if (!bus.loadError().isEmpty()) {
        CommandResult refused;
        refused.command = commandName(options.command);
        refused.exitCode = OperationFailed;
        refused.error = bus.loadError();
        return refused;
    }
    CommandResult result = options.command == Command::List
                               ? runList(bus.transport())
                               : runOnProgrammer(options, output, bus.transport());
    QString error;
    if (!bus.saveState(&error)) {
        result.error = result.error.isEmpty() ? error : result.error + QStringLiteral("; ") + error;
        if (result.exitCode == Success)
            result.exitCode = OperationFailed;
    }
    return result;
}

} // namespace

int runZqprog(const QStringList &arguments)
{
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (!parsed.error.isEmpty())
        return usageError(parsed.error);
    if (parsed.options.help) {
        writeText(stdout, helpText(parsed.options.command));
        return Success;
    }
    QString error;
    const std::unique_ptr<Output> output = makeOutput(parsed.options, &error);
    if (!output)
        return usageError(error);
    const CommandResult result = runCommand(parsed.options, *output);
    output->result(result);
    return result.exitCode;
}

} // namespace zq::cli
