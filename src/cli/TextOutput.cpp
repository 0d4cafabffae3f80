#include "cli/TextOutput.h"

#include "cli/ConsoleStreams.h"

namespace zq::cli
{

TextOutput::TextOutput() : progress_(stdout, isTerminal(stdout)) {}

void TextOutput::log(const QString &line)
{
    progress_.beforeLine();
    writeLine(stdout, line);
    progress_.afterLine();
}

// The phase is the log's business: its lines before each restart of the bar say what comes.
void TextOutput::progress(int percent, Phase)
{
    progress_.show(percent);
}

// The box's title says nothing the text does not; only the text is shown, as the box shows it.
void TextOutput::message(const QString &, const QString &text)
{
    progress_.beforeLine();
    writeLine(stderr, text);
    progress_.afterLine();
}

void TextOutput::note(const QString &text)
{
    progress_.beforeLine();
    writeLine(stderr, QStringLiteral("zqprog: ") + text);
    progress_.afterLine();
}

void TextOutput::result(const CommandResult &result)
{
    progress_.finish();
    for (const QString &line : result.summary)
        writeLine(stdout, line);
    if (!result.error.isEmpty())
        writeLine(stderr, QStringLiteral("zqprog: ") + result.error);
}

} // namespace zq::cli
