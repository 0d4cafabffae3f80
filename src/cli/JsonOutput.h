#pragma once

#include "cli/Output.h"

namespace zq::cli
{

// For a program: one compact JSON object per line on stdout and nothing else there, each with
// "kind" and "schemaVersion"; docs/zqprog-json.md lists every kind and key.
//   {"kind":"log","board":74565,"text":"..."}
//   {"kind":"progress","board":74565,"phase":"write","percent":42}
//   {"kind":"message","board":null,"title":"Message","text":"..."}
//   {"kind":"result","command":"program","exit":0,"code":0,"crc":1234,...}
// Message texts and remarks also go to stderr for a human watching.
class JsonOutput : public Output
{
public:
    void log(const QString &line) override;
    void progress(int percent, Phase phase) override;
    void message(const QString &title, const QString &text) override;
    void note(const QString &text) override;
    void identified(const CommandResult &run) override { board_ = run.boardId; }
    void result(const CommandResult &result) override;

private:
    // Every line says which board it is about (null until the board has identified itself), so
    // the lines of several boards can be told apart (--all).
    QJsonValue board() const { return board_ ? QJsonValue(qint64(*board_)) : QJsonValue(); }

    std::optional<uint32_t> board_;
    int lastPercent_ = -1;
    Phase lastPhase_ = Phase::Write;
};

// The result line's object (also what the tests read back).
QJsonObject resultObject(const CommandResult &result);

// One object as its line on stdout, with the schema's version added.
void writeJsonLine(QJsonObject object);

} // namespace zq::cli
