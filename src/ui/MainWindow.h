#pragma once

#include "FrontEnd.h"

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

namespace zq
{

class MainWindowForm;

// The one window of the program. It owns the form and the state shared by the operations, and
// shows their reports through the FrontEnd seam.
class MainWindow : public QMainWindow, public FrontEnd
{
    Q_OBJECT

public:
    // Arguments: caption, starting directory, filter. An empty result means cancelled.
    using FileChooser = std::function<QString(const QString &, const QString &, const QString &)>;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    MainWindowForm *form() const { return formRecord.get(); }
    const QTimer &deviceSearchTimer() const { return searchTimer; }

    // Replaces the file dialog, so that tests and tools never open one.
    void setFileChooser(FileChooser chooser);

    void logTimestamp();
    static QString toHexText(uint32_t value, int width);
    static QString toDecText(int32_t value);

    // FrontEnd
    void appendLog(const QString &line) override;
    void clearLog() override;
    void setProgress(int percent) override;
    void showCriticalMessage(const QString &text) override;
    void showErrorMessage(const QString &text) override;
    void setOperationButtonsEnabled(bool enable) override;
    void setButtonEnabled(Button button, bool enable) override;
    int mcuTypeIndex() const override;
    void setMcuTypeIndex(int index) override;
    int swdSpeedIndex() const override;
    bool powerOffAfterDone() const override;
    QString programNumberText() const override;
    QString codePathText() const override;
    void setCodePathText(const QString &path) override;
    void setCodeSummary(const QString &text) override;
    void setBoardIdText(const QString &text) override;
    void showFlashInfo(const QString &id, const QString &size, const QString &name) override;
    QString chooseOpenFile(const QString &caption, const QString &directory,
                           const QString &filter) override;
    void processEvents() override;

    // State the operations share with the shell.
    int connectionMode =
        0; // 0 update of the MCU code (also before any connection), 1 normal, 2 boot
    int bootUpdateEnabled = 0;
    int flashKnown = 0;
    uint32_t codeFlashAddress = 0x10000;
    uint32_t updateLength = 0;
    uint32_t updateCrc = 0;
    QString mcuCodePath;
    QString secondPath;
    QStringList devicePaths;

private slots:
    void on_pushButton_Exit_clicked();
    void on_pushButton_clicked();

private:
    void resetShellState();
    void setUpProgramNumberField();
    void disableButtonsAtStart();
    void fillChoiceLists();
    void showMessageBox(const QString &title, const QString &text);
    void loadSettings();
    void saveSettings();

    std::unique_ptr<MainWindowForm> formRecord;
    QTimer searchTimer;
    FileChooser fileChooser;
};

} // namespace zq
