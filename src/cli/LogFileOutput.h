#pragma once

#include "Output.h"

#include <QFile>

#include <memory>

namespace zq::cli
{

// Passes everything on to the console's output and appends every line, with the date and time,
// to a log file: the record a production line keeps of each board it handled. Progress is left
// out; the log's own "Timer:" lines and the verdict tell how it went.
class LogFileOutput : public Output
{
public:
    // Null, with the reason, when the file cannot be opened for appending.
    static std::unique_ptr<Output> open(const QString &path, std::unique_ptr<Output> console,
                                        QString *error);

    void log(const QString &line) override;
    void progress(int percent) override;
    void message(const QString &title, const QString &text) override;
    void note(const QString &text) override;
    void result(const CommandResult &result) override;

private:
    explicit LogFileOutput(std::unique_ptr<Output> console);
    void append(const QString &line);

    std::unique_ptr<Output> console_;
    QFile file_;
};

} // namespace zq::cli
