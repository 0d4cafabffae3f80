#pragma once

#include "frontend/FrontEnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>

#include <cstdio>

namespace zq::bench
{

// A front end without widgets for timing the operations: it shows nothing, answers with the
// choices a user would have made, and lets the event loop run while an operation waits, as the
// window does, so the operations cost here what they cost there. With ZQ_BENCH_LOG set in the
// environment, the log lines go to stderr with the milliseconds since the front end was made,
// to see where an operation spends its time.
class BenchFrontEnd : public FrontEnd
{
public:
    BenchFrontEnd() { clock_.start(); }

    int mcuType = 0;
    QString codePath;

    // When the log last showed a line, in ns since the front end was made; 0 for never.
    qint64 lastSeen(const QString &line) const { return seen_.value(line, 0); }

    void appendLog(const QString &line) override
    {
        seen_.insert(line, clock_.nsecsElapsed());
        if (showLog_)
            std::fprintf(stderr, "%10.3f %s\n", double(clock_.nsecsElapsed()) / 1e6,
                         qPrintable(line));
    }
    void clearLog() override {}
    void setProgress(int) override {}
    void showCriticalMessage(const QString &) override {}
    void showErrorMessage(const QString &) override {}
    void setOperationButtonsEnabled(bool) override {}
    void setButtonEnabled(Button, bool) override {}
    Choices choices() const override { return {mcuType, 0, false, QStringLiteral("0"), codePath}; }
    void setMcuTypeIndex(int index) override { mcuType = index; }
    void setCodePathText(const QString &path) override { codePath = path; }
    void setCodeSummary(const QString &) override {}
    void setBoardIdText(const QString &) override {}
    void showFlashInfo(const QString &, const QString &, const QString &) override {}
    QString chooseOpenFile(const QString &, const QString &, const QString &) override
    {
        return codePath;
    }
    void processEvents() override { QCoreApplication::processEvents(); }

private:
    QElapsedTimer clock_;
    QHash<QString, qint64> seen_;
    bool showLog_ = !qEnvironmentVariableIsEmpty("ZQ_BENCH_LOG");
};

} // namespace zq::bench
