#pragma once

#include "cli/Output.h"

#include <QFile>
#include <QList>
#include <QPair>

#include <memory>

namespace zq::cli
{

// Passes everything on to the console's output and appends every line, with the date, the time
// and the board's id, to a log file: the record a production line keeps of each board it
// handled, which several runs may share. Each run starts with a header (zqprog's version, the
// command line, the board's id and path, the image's path, format, CRC and length). Lines
// before the board has identified itself are held back until then, so the header comes first
// and they carry the id too. Progress is left out; the log's own "Timer:" lines and the verdict
// tell how it went. A line that cannot be written makes the run fail (exit 1): a record with
// holes is no record.
class LogFileOutput : public Output
{
public:
    // Null, with the reason, when the file cannot be opened for appending.
    static std::unique_ptr<Output> open(const QString &path, std::unique_ptr<Output> console,
                                        const QStringList &arguments, QString *error);

    void log(const QString &line) override;
    void progress(int percent, Phase phase) override;
    void message(const QString &title, const QString &text) override;
    void note(const QString &text) override;
    void identified(const CommandResult &run) override;
    void result(const CommandResult &result) override;
    int finalExit(int exitCode) const override;

private:
    LogFileOutput(std::unique_ptr<Output> console, const QStringList &arguments);
    void append(const QString &line);
    void write(const QString &stamp, const QString &line);

    std::unique_ptr<Output> console_;
    QStringList arguments_;
    QFile file_;
    QString tag_;
    bool headerWritten_ = false;
    QList<QPair<QString, QString>> held_; // time stamp and line, waiting for the header
    QString writeError_;
};

// The command line as a shell would take it back: arguments quoted where needed.
QString shellCommandLine(const QStringList &arguments);

} // namespace zq::cli
