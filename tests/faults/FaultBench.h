#pragma once

// One window over the emulated bus with one board plugged in, in a working folder of its own that
// holds everything the operations read: the flash catalogue, config.ini, a code image and a
// firmware and a boot image. The fault cases arm a switch on the board, press one button and read
// what the window shows.

#include "ModalBoxCloser.h"
#include "TestImages.h"
#include "WindowLog.h"
#include "WorkingDirectory.h"
#include "emulator/Board.h"
#include "emulator/Faults.h"
#include "ui/MainWindow.h"

#include <QByteArray>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace faultbench
{

using zq::emu::Board;
using zq::emu::BoardMode;
using zq::emu::Fault;
using zq::emu::FaultKind;

// The operations, each started by its button.
enum class Operation { Open, Download, CheckFlash, Program, Verify, FirmwareUpdate, BootUpdate };

// Every image has two full blocks and a short one, so the first, a middle and the last frame of
// each block command are three different frames, and the last one is the short block.
constexpr int kImageLength = 4096 + 4096 + 100;
// A reply this late, or this slow, still comes well within the fewest tries any command has.
constexpr int kSlowReplyMs = 200;
constexpr uint32_t kUpdateVersion = 0x20260101;

QByteArray codeImage();
QByteArray programmerImage();
// The 512-byte record the download stores at address 0 for the code image, MCU type index 3,
// program number 100000 and SWD speed index 0.
QByteArray messageBlock();

// Stand-ins for log lines whose exact text varies from run to run.
extern const QString kTimer;   // a time stamp line
extern const QString kRemoved; // "device remove:" and the board's path
extern const QString kArrived; // "device insert:" and a path the board came back under
// A CRC line whose received CRC is the board's own with its last byte damaged by the switch.
QString damaged(const QString &label);

// Names of the enabled buttons among the six an operation or an open may switch.
extern const QStringList kNoButtons;
extern const QStringList kTargetAndFlash; // Program, Verify, Download, Check SpiFlash
QStringList withUpdateApp(QStringList buttons);
QStringList withUpdateBoot(QStringList buttons);

// The button sets a case accepts; more than one only where the order of two events (the
// removal news and the failed transfer) is not fixed.
using ButtonSets = QList<QStringList>;
ButtonSets on(const QStringList &buttons);
ButtonSets on(const QStringList &buttons, const QStringList &orElse);

QString faultName(FaultKind kind);

class Bench
{
public:
    // Long restart delays keep a board that was told to restart on the bus for the whole case.
    explicit Bench(Operation operation, int restartLeaveMs = 5);
    ~Bench();
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;

    // Plugs the board and, unless the case is about the open itself, opens it and does what the
    // operation needs first (a download before a flash check, a program run before a verify).
    // Check QTest::currentTestFailed() afterwards.
    void start();

    // Presses the operation's button and returns the log it left, normalised: the whole log for
    // the operations that clear it, the lines added for those that do not.
    QStringList run();
    QStringList logLines() const;
    QStringList normalised(const QStringList &lines) const;
    QStringList enabledButtons() const;

    // Unplugs the board, plugs it in again, opens it and programs the target with the code image:
    // whatever a case did, the same board works again. Check QTest::currentTestFailed().
    void replugAndProgram();

    // The window goes as at the program's end: config.ini is written. Nothing else may be
    // asked of the bench afterwards.
    void destroyWindow() { window_.reset(); }

    MainWindow &window() { return *window_; }
    Board &board() { return *board_; }
    QString path() const { return path_; }
    const QList<ModalBoxCloser::Box> &boxes() const { return boxes_.boxes(); }

private:
    void writeFiles();
    void plug();
    void open();
    void pressAndExpect(const QString &button, const QString &lastLine);

    Operation operation_;
    WorkingDirectory directory_;
    std::shared_ptr<Board> board_;
    std::unique_ptr<MainWindow> window_;
    ModalBoxCloser boxes_;
    QString path_;
};

// Runs an action once, as soon as the host is waiting for a reply that the board holds: the
// armed switches have all fired, the worker has confirmed the frame and taken the read request.
// The state must hold on two ticks in a row, so that a frame whose write is still returning is
// not mistaken for one whose reply is awaited.
class WhenReplyHeld
{
public:
    WhenReplyHeld(Bench &bench, std::function<void()> action);
    bool fired() const { return fired_; }

private:
    bool held() const;

    Bench &bench_;
    std::function<void()> action_;
    QTimer timer_;
    bool seenOnce_ = false;
    bool fired_ = false;
};

// The columns every fault matrix has, one row per case, and the run of one row.
void addMatrixColumns();
// A row for the switch kind on the frame-th frame of the command letter from the press on.
QTestData &addCase(char command, int frame, FaultKind kind);
// The case of the current row: the expected log and buttons, no message box, the switch has
// fired, the board works again after a re-plug, all within 60 s. moreChecks looks at the window
// right after the operation.
void runCase(Operation operation, const std::function<void(Bench &)> &moreChecks = {});

// The eight rows of one frame, one for each fault kind, built from what each kind adds to the
// log. A fault the operation does not get over leaves before + its own lines + after: no reply
// adds lost, the board gone adds kRemoved then lost, a reply of the wrong length or marker adds
// malformed, a damaged reply CRC damagedCrc, a failing status failing. A late or slow reply,
// and a failing status when failing is unset, leave the good run's log, ok.
struct FrameRows {
    QStringList before;
    QStringList lost;
    QStringList malformed;
    QStringList damagedCrc;
    std::optional<QStringList> failing;
    QStringList after;
    QStringList ok;
    ButtonSets failed; // the buttons after a fault
    ButtonSets passed; // the buttons after a good run
    // Whole rows for the kinds that break the pattern.
    QMap<FaultKind, QPair<QStringList, ButtonSets>> except;
};
void addFrameRows(char command, int frame, const FrameRows &rows);

// Empties the bus between cases.
void unplugEverything();

// A fault matrix as a test program of its own, so that ctest -j runs the matrices side by side:
// addRows adds the rows (columns included), runRow runs the current one, the bus is emptied
// around each.
class MatrixTest : public QObject
{
    Q_OBJECT

public:
    MatrixTest(std::function<void()> addRows, std::function<void()> runRow)
        : addRows_(std::move(addRows)), runRow_(std::move(runRow))
    {
    }

private slots:
    void init() { unplugEverything(); }
    void cleanup() { unplugEverything(); }
    void underFaults_data() { addRows_(); }
    void underFaults() { runRow_(); }

private:
    std::function<void()> addRows_;
    std::function<void()> runRow_;
};

// The program's main: as QTEST_MAIN would run it.
int runMatrix(int argc, char **argv, const std::function<void()> &addRows,
              const std::function<void()> &runRow);
// The same for the rows runCase(operation) runs.
int runMatrix(int argc, char **argv, const std::function<void()> &addRows, Operation operation);

} // namespace faultbench

Q_DECLARE_METATYPE(faultbench::FaultKind)
