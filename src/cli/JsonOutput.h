#pragma once

#include "Output.h"

namespace zq::cli
{

// For a program: one compact JSON object per line on stdout and nothing else there.
//   {"kind":"log","text":"..."}
//   {"kind":"progress","percent":42}
//   {"kind":"message","title":"Message","text":"..."}
//   {"kind":"result","command":"program","exit":0,"code":0,...}
// "code" is the operation's result code, null when no operation ran; a refusal or failure of
// zqprog's own carries "error". Message texts and remarks also go to stderr for a human watching.
class JsonOutput : public Output
{
public:
    void log(const QString &line) override;
    void progress(int percent) override;
    void message(const QString &title, const QString &text) override;
    void note(const QString &text) override;
    void result(const CommandResult &result) override;

private:
    int lastPercent_ = -1;
};

// The result line's object (also what the tests read back).
QJsonObject resultObject(const CommandResult &result);

} // namespace zq::cli
