#pragma once

#include "cli/Output.h"
#include "cli/ProgressDisplay.h"

namespace zq::cli
{

// For a reader: the log on stdout exactly as the log panel shows it, the message boxes' texts
// on stderr word for word, zqprog's own remarks on stderr after "zqprog: ".
class TextOutput : public Output
{
public:
    TextOutput();

    void log(const QString &line) override;
    void progress(int percent, Phase phase) override;
    void message(const QString &title, const QString &text) override;
    void note(const QString &text) override;
    void result(const CommandResult &result) override;

private:
    ProgressDisplay progress_;
};

} // namespace zq::cli
