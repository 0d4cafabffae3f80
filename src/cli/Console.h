#pragma once

// The console's side of the seam: the front end, the bus it works on (USB or emulated boards
// with their state folders and fault switches), and the signals that interrupt a run.

#include "cli/Output.h"
#include "frontend/FrontEnd.h"

#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>
#include <vector>

namespace zq::cli
{

// Ctrl-C (SIGINT) and SIGTERM are counted instead of ending the process at once: the operation
// stops after the frame in flight (its waits end when the front end says stop), the log and the
// emulated board's state are completed, and zqprog exits 130. A third signal ends the process
// the default way, for a run that will not stop. A zqprog that a gang (--all) started for one
// board takes its parent's end, however it came, as a SIGTERM (see gangParentGone).
void installInterruptHandlers();

// How many signals have come so far.
int interruptCount();

// A write to a pipe nobody reads any more (a console or a gang that has gone) fails instead of
// ending the process, so the run still completes its record and the board's state.
void ignoreBrokenPipes();

// The gang's parent names itself to each board's zqprog in this variable (its process id).
inline constexpr char kGangParentVariable[] = "ZQPROG_GANG_PARENT";

// This zqprog works one board of a gang whose parent has ended: nobody watches it any more.
// Always false on Windows, where the parent's job object ends its children with it.
bool gangParentGone();

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

    void appendLog(const QString &line) override;
    void clearLog() override;
    void setProgress(int percent) override;
    void beginStage(Stage stage) override;
    void showCriticalMessage(const QString &text) override;
    void showErrorMessage(const QString &text) override;
    void setOperationButtonsEnabled(bool enable) override;
    void setButtonEnabled(Button button, bool enable) override;
    Choices choices() const override
    {
        return {mcuTypeIndex_, swdSpeedIndex_, powerOff_, programNumber_, file_};
    }
    void setMcuTypeIndex(int index) override { mcuTypeIndex_ = index; }
    void setCodePathText(const QString &path) override { file_ = path; }
    void setCodeSummary(const QString &text) override { codeSummary_ = text; }
    void setBoardIdText(const QString &) override {}
    void showFlashInfo(const QString &, const QString &, const QString &) override {}
    QString chooseOpenFile(const QString &caption, const QString &directory,
                           const QString &filter) override;
    void processEvents() override;
    bool stopRequested() const override;

    // How long each stage of the operation took, up to now (the last one is still running).
    struct StageTimes {
        std::optional<qint64> initMs, writeMs, checkMs;
    };
    StageTimes stageTimes() const;

private:
    Output &output_;
    QElapsedTimer clock_;
    QList<QPair<Stage, qint64>> stageStarts_; // each stage as it began, in ms on clock_
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
    Stage phase_;
    int signalsAllowed_; // signals that do not stop the operation
    int signalsWarned_ = 0;
};

} // namespace zq::cli

namespace zq::emu
{
class Board;
class StateFolderLock;
} // namespace zq::emu
namespace zq::usb
{
class UsbTransport;
}

namespace zq::cli
{

struct Options;

// The bus zqprog works on: the platform's USB, or with --emulated the built-in emulator with
// one board plugged in for each --emulated given. A board with a state folder starts from the
// folder and is written back to it by saveState, so a second run finds what the first one left.
// The folder is this process's while the bus lives: a second zqprog on it is refused as a busy
// board is, and the faults.ini there arms the board's fault switches (emu::armFaultsFile). Boards
// with no board.ini yet get board ids one apart (0x00012345, 0x00012346, ...), as real boards
// have ids of their own.
class ConsoleBus
{
public:
    explicit ConsoleBus(const Options &options);
    ~ConsoleBus();
    ConsoleBus(const ConsoleBus &) = delete;
    ConsoleBus &operator=(const ConsoleBus &) = delete;

    std::shared_ptr<usb::UsbTransport> transport() const { return transport_; }

    // Why an emulated board's state folder could not be read (no board is plugged in then, and
    // no state is written back); empty when it could. loadErrorExit says how the run ends: 3
    // when another process has the folder, as for a busy board, 1 otherwise.
    QString loadError() const { return loadError_; }
    int loadErrorExit() const { return loadErrorExit_; }

    // True when there is no state to keep, or all of it was kept; otherwise the reason.
    bool saveState(QString *error) const;

    // What a bus of these folders would do to boards with no board.ini yet, done without a bus:
    // every board but the first gets its own id, kept in its folder.
    static void giveFreshBoardsIds(const QStringList &folders);

private:
    struct EmulatedBoard {
        QString folder; // empty: a fresh board
        std::unique_ptr<emu::StateFolderLock> lock;
        std::shared_ptr<emu::Board> board;
    };
    bool plugEmulated(const QString &folder, int index);

    std::shared_ptr<usb::UsbTransport> transport_;
    std::vector<EmulatedBoard> boards_;
    QString loadError_;
    int loadErrorExit_ = 0;
};

} // namespace zq::cli
