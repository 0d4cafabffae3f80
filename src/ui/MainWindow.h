#pragma once

#include "frontend/FrontEnd.h"

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

class UsbDevice;
class USB_BURN_CTRL;

namespace zq
{
class MainWindowForm;
class OperationGate;
namespace usb
{
class UsbTransport;
}
namespace ops
{
struct ProgrammerState;
struct Session;
class ProgrammerLink;
} // namespace ops
} // namespace zq

// The one window of the program. It owns the form, the worker, the device and the state the
// operations share; each button is a slot that runs one operation through the FrontEnd seam.
class MainWindow : public QMainWindow, public zq::FrontEnd
{
    Q_OBJECT

public:
    // Arguments: caption, starting directory, filter. An empty result means cancelled.
    using FileChooser = std::function<QString(const QString &, const QString &, const QString &)>;

    // Over the platform's USB bus.
    explicit MainWindow(QWidget *parent = nullptr);
    // Over the given bus (the emulator's in the demo and the tests).
    explicit MainWindow(std::shared_ptr<zq::usb::UsbTransport> transport,
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    zq::MainWindowForm *form() const { return formRecord.get(); }
    const QTimer &deviceSearchTimer() const { return searchTimer; }
    zq::ops::ProgrammerState &state() const;
    UsbDevice &device() const;
    USB_BURN_CTRL &worker() const;
    // True while an operation runs; other buttons are ignored meanwhile.
    bool operationRunning() const;

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
    Choices choices() const override;
    void setMcuTypeIndex(int index) override;
    void setCodePathText(const QString &path) override;
    void setCodeSummary(const QString &text) override;
    void setBoardIdText(const QString &text) override;
    void showFlashInfo(const QString &id, const QString &size, const QString &name) override;
    QString chooseOpenFile(const QString &caption, const QString &directory,
                           const QString &filter) override;
    void processEvents() override;
    bool stopRequested() const override;

    // Shell state that no operation needs.
    QString secondPath;
    QStringList devicePaths;

protected:
    bool nativeEvent(const QByteArray &eventType, void *message,
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
                     qintptr *result) override;
#else
                     long *result) override;
#endif

private slots:
    void on_pushButton_RunApp_clicked();
    void on_pushButton_InputMCUCode_clicked();
    void on_pushButton_UpdateAPP_clicked();
    void on_pushButton_UpdateBoot_clicked();
    void on_pushButton_UpdateFlash_clicked();
    void on_pushButton_CheckFlash_clicked();
    void on_pushButton_Exit_clicked();
    void on_pushButton_clicked();
    void winusbDeviceSearch();
    void on_pushButton_OpenDevice_clicked();
    void on_pushButton_UpdateTarget_clicked();
    void on_pushButton_VerifyTarget_clicked();

private:
    void resetShellState();
    void setUpProgramNumberField();
    void disableButtonsAtStart();
    void fillChoiceLists();
    void showMessageBox(const QString &title, const QString &text);
    void loadSettings();
    void saveSettings(const QString &mcuCodePath);

    // Plug and unplug news, on the window's thread, whatever bus reported it.
    void registerForDeviceNotifications();
    void onDeviceArrived(const QString &name);
    void onDeviceRemoved(const QString &name);
    // Runs one operation unless another is running (then the press is ignored).
    void runOperation(const std::function<void(zq::ops::Session &)> &operation);
    QString selectedDevicePath() const;

    std::unique_ptr<zq::MainWindowForm> formRecord;
    QTimer searchTimer;
    FileChooser fileChooser;
    std::shared_ptr<zq::usb::UsbTransport> transport;
    std::unique_ptr<zq::ops::ProgrammerLink> link; // the device, its worker and the session
    zq::OperationGate *operationGate = nullptr;    // child object; defers close while busy
};
