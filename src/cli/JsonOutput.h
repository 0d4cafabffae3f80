#pragma once

#include "cli/Output.h"

namespace zq::cli
{

// For a program: one compact JSON object per line on stdout and nothing else there, each with
// "kind" and "schemaVersion"; docs/zqprog-json.md lists every kind and key.
//   {"kind":"log","text":"..."}
//   {"kind":"progress","phase":"write","percent":42}
//   {"kind":"message","title":"Message","text":"..."}
//   {"kind":"result","command":"program","exit":0,"code":0,"crc":1234,...}
// Message texts and remarks also go to stderr for a human watching.
class JsonOutput : public Output
{
public:
    void log(const QString &line) override;
    void progress(int percent, Phase phase) override;
    void message(const QString &title, const QString &text) override;
    void note(const QString &text) override;
    void result(const CommandResult &result) override;

private:
    int lastPercent_ = -1;
    Phase lastPhase_ = Phase::Write;
};

// The result line's object (also what the tests read back).
QJsonObject resultObject(const CommandResult &result);

// One object as its line on stdout, with the schema's version added.
void writeJsonLine(QJsonObject object);

} // namespace zq::cli
