#pragma once

#include "frontend/FrontEnd.h"

#include <QCoreApplication>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

namespace zq::test
{

// A front end that remembers everything shown to it and answers with inputs a test sets.
// processEvents also runs the real event loop once when an application object exists, so timers
// and queued calls of the code under test still fire while an operation waits.
class RecordingFrontEnd : public FrontEnd
{
public:
    struct Box {
        QString title; // "Message" or "Error"
        QString text;
    };

    // What the code under test showed, in order.
    QStringList log;
    int logClears = 0;
    QList<int> progress;
    QList<int> mcuTypeIndexesSet;
    QList<Box> boxes;
    QList<bool> operationButtonsCalls;
    QList<QPair<Button, bool>> buttonCalls;
    QStringList codePathsSet;
    QStringList codeSummaries;
    QStringList boardIdTexts;
    QList<QStringList> flashInfos; // id, size, name
    QStringList openFileCaptions;
    int processEventsCalls = 0;

    // Inputs.
    int mcuType = 0;
    int swdSpeed = 0;
    bool powerOff = false;
    QString programNumber = QStringLiteral("0");
    QString codePath;
    QStringList openFileAnswers; // taken first to last; empty when used up (cancelled)

    // Runs inside every processEvents, e.g. to unplug a board in the middle of an operation.
    std::function<void()> onProcessEvents;

    void appendLog(const QString &line) override { log << line; }
    void clearLog() override
    {
        log.clear();
        ++logClears;
    }
    void setProgress(int percent) override { progress << percent; }
    void showCriticalMessage(const QString &text) override
    {
        boxes << Box{QStringLiteral("Message"), text};
    }
    void showErrorMessage(const QString &text) override
    {
        boxes << Box{QStringLiteral("Error"), text};
    }
    void setOperationButtonsEnabled(bool enable) override { operationButtonsCalls << enable; }
    void setButtonEnabled(Button button, bool enable) override
    {
        buttonCalls << qMakePair(button, enable);
    }
    Choices choices() const override
    {
        return {mcuType, swdSpeed, powerOff, programNumber, codePath};
    }
    void setMcuTypeIndex(int index) override
    {
        mcuType = index;
        mcuTypeIndexesSet << index;
    }
    void setCodePathText(const QString &path) override
    {
        codePath = path;
        codePathsSet << path;
    }
    void setCodeSummary(const QString &text) override { codeSummaries << text; }
    void setBoardIdText(const QString &text) override { boardIdTexts << text; }
    void showFlashInfo(const QString &id, const QString &size, const QString &name) override
    {
        flashInfos << QStringList{id, size, name};
    }
    QString chooseOpenFile(const QString &caption, const QString &, const QString &) override
    {
        openFileCaptions << caption;
        return openFileAnswers.isEmpty() ? QString() : openFileAnswers.takeFirst();
    }
    void processEvents() override
    {
        ++processEventsCalls;
        if (onProcessEvents)
            onProcessEvents();
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    }

    // Log lines that start with prefix.
    QStringList logStartingWith(const QString &prefix) const
    {
        QStringList found;
        for (const QString &line : log) {
            if (line.startsWith(prefix))
                found << line;
        }
        return found;
    }
};

} // namespace zq::test
