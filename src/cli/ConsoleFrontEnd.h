#pragma once

#include "cli/Output.h"
#include "frontend/FrontEnd.h"

namespace zq::cli
{

struct Options;

// The console's side of the seam: the log, the progress and the message boxes go to the
// output; the form's choices come from the command line; the FILE argument stands in for both
// the code path line and the file dialog. Which buttons the window would have enabled is only
// tracked, for zqprog to refuse what the window would not let the user start. Ctrl-C and
// SIGTERM are its close request: the operation's waits end at once (during a boot update only
// from the second signal on, since an interrupted boot loader leaves the board unable to start).
class ConsoleFrontEnd : public FrontEnd
{
public:
    ConsoleFrontEnd(Output &output, const Options &options);

    // What the window's buttons would allow now.
    bool operationButtonsEnabled() const { return operationButtons_; }
    bool updateAppEnabled() const { return updateApp_; }
    bool updateBootEnabled() const { return updateBoot_; }
    // The code file's summary as the window's label shows it; empty until a file was read.
    QString codeSummary() const { return codeSummary_; }
    // The run step logged "Target run fail...": the target was written but does not run.
    bool targetRunFailed() const { return targetRunFailed_; }

    void appendLog(const QString &line) override;
    void clearLog() override;
    void setProgress(int percent) override;
    void showCriticalMessage(const QString &text) override;
    void showErrorMessage(const QString &text) override;
    void setOperationButtonsEnabled(bool enable) override;
    void setButtonEnabled(Button button, bool enable) override;
    int mcuTypeIndex() const override { return mcuTypeIndex_; }
    void setMcuTypeIndex(int index) override { mcuTypeIndex_ = index; }
    int swdSpeedIndex() const override { return swdSpeedIndex_; }
    bool powerOffAfterDone() const override { return powerOff_; }
    QString programNumberText() const override { return programNumber_; }
    QString codePathText() const override { return file_; }
    void setCodePathText(const QString &path) override { file_ = path; }
    void setCodeSummary(const QString &text) override { codeSummary_ = text; }
    void setBoardIdText(const QString &) override {}
    void showFlashInfo(const QString &, const QString &, const QString &) override {}
    QString chooseOpenFile(const QString &caption, const QString &directory,
                           const QString &filter) override;
    void processEvents() override;
    bool stopRequested() const override;

private:
    Output &output_;
    QString file_;
    int mcuTypeIndex_;
    int swdSpeedIndex_;
    bool powerOff_;
    QString programNumber_;
    QString codeSummary_;
    bool operationButtons_ = false;
    bool updateApp_ = false;
    bool updateBoot_ = false;
    bool showProgress_;
    Phase phase_;
    bool targetRunFailed_ = false;
    int signalsAllowed_; // signals that do not stop the operation
    int signalsWarned_ = 0;
};

} // namespace zq::cli
