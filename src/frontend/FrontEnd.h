#pragma once

#include <QString>

namespace zq
{

// The part of the seam the protocol layer sees: the commands' own log lines, the progress of the
// flash check, and the event loop their waits let run. The commands read nothing through it:
// what they need comes as arguments, and what the board said stays in the command set.
class CommandOutput
{
public:
    virtual ~CommandOutput() = default;

    // Log panel: one paragraph per line, in order.
    virtual void appendLog(const QString &line) = 0;

    // Progress bar, 0 to 100.
    virtual void setProgress(int percent) = 0;

    // Lets the event loop run once (repaints, timers, device events) while an operation waits.
    virtual void processEvents() = 0;

    // True once the user has asked the program to quit in the middle of an operation: the waits
    // for the programmer then end at once instead of running out their tries, so the operation
    // finishes (with its failure lines) and the program can go.
    virtual bool stopRequested() const { return false; }
};

// Everything the operations need from whoever shows them to the user: the main window, or the
// console of zqprog. Only the window's thread calls it. No widget lies behind this header, so the
// layers below the front ends never include one.
class FrontEnd : public CommandOutput
{
public:
    // The buttons that operations switch by name (besides the policy of
    // setOperationButtonsEnabled).
    enum class Button { UpdateAPP, UpdateBoot };

    virtual void clearLog() = 0;

    // The stages of a long operation, each announced as it begins (the progress starts again
    // with each): the target's init, the blocks written, the board's check of what it got, the
    // message block.
    enum class Stage { Init, Write, Check, Message };
    virtual void beginStage(Stage) {}

    // Modal boxes; they return when the user has closed them. "Message" is the usual title;
    // choosing a code file reports an unreadable file under the title "Error".
    virtual void showCriticalMessage(const QString &text) = 0;
    virtual void showErrorMessage(const QString &text) = 0;

    // The operation-button policy (Program, Verify, and the two flash buttons when the
    // programmer's flash is known), and the two update buttons that operations switch by name.
    virtual void setOperationButtonsEnabled(bool enable) = 0;
    virtual void setButtonEnabled(Button button, bool enable) = 0;

    // The choices the user made in the control panel, as they stand when they are read: an
    // operation reads them when it starts and again where it builds a frame that carries one.
    struct Choices {
        int mcuTypeIndex = -1;          // index into the target id table, -1 for none
        int swdSpeedIndex = -1;         // -1 for none
        bool powerOffAfterDone = false; // stop the target's supply after the job
        QString programNumberText;      // "Program Number:"
        QString codePath;               // the code file line
    };
    virtual Choices choices() const = 0;
    virtual void setMcuTypeIndex(int index) = 0; // shows the type the target reported

    // The code file line and its summary label.
    virtual void setCodePathText(const QString &path) = 0;
    virtual void setCodeSummary(const QString &text) = 0;

    // Identity of the open programmer.
    virtual void setBoardIdText(const QString &text) = 0;
    virtual void showFlashInfo(const QString &id, const QString &size, const QString &name) = 0;

    // An open-file choice; an empty text means cancelled. Tests and the console inject it.
    virtual QString chooseOpenFile(const QString &caption, const QString &directory,
                                   const QString &filter) = 0;
};

} // namespace zq
