#include "ui/MainWindow.h"

#include "config/SettingsFile.h"
#include "frontend/NumberText.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "protocol/TargetIds.h"
#include "ui/MainWindowForm.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTextEdit>
#include <QThread>
#include <QTime>
#include <QTimer>

#if defined(Q_OS_WIN)
#include "usb/winusb/DeviceNotifications.h"
#endif

using zq::timestampText;
using zq::translated;

namespace zq
{

// Keeps operations from overlapping. Every wait of an operation runs the event loop, so without
// this gate a second button press (or a close request) would start work in the middle of the
// first. A press that meets a running operation is ignored without a word; a close request is
// carried out when the operation has ended, and tells the operation to give up its waits so that
// this is soon.
class OperationGate : public QObject
{
public:
    explicit OperationGate(QWidget *window);

    bool busy() const { return busy_; }
    // A close request met a running operation; the waits of the protocol end at once from now on.
    bool closeRequested() const { return closePending_; }
    // Called when a close request is put off, e.g. to end a transfer that is pending.
    void setOnCloseDeferred(std::function<void()> action) { onCloseDeferred_ = std::move(action); }

    // Runs operation unless one is running; false when the press was ignored.
    bool run(const std::function<void()> &operation);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *window_;
    bool busy_ = false;
    bool closePending_ = false;
    std::function<void()> onCloseDeferred_;
};

OperationGate::OperationGate(QWidget *window) : QObject(window), window_(window)
{
    window_->installEventFilter(this);
}

bool OperationGate::run(const std::function<void()> &operation)
{
    if (busy_)
        return false;
    busy_ = true;
    operation();
    busy_ = false;
    if (closePending_) {
        closePending_ = false;
        // From the event loop, so the slot that ran the operation returns first.
        QTimer::singleShot(0, window_, [window = window_] { window->close(); });
    }
    return true;
}

bool OperationGate::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window_ && event->type() == QEvent::Close && busy_) {
        const bool first = !closePending_;
        closePending_ = true;
        event->ignore();
        if (first && onCloseDeferred_)
            onCloseDeferred_();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zq

MainWindow::MainWindow(QWidget *parent) : MainWindow(zq::usb::makePlatformTransport(), parent) {}

MainWindow::MainWindow(std::shared_ptr<zq::usb::UsbTransport> bus, QWidget *parent)
    : QMainWindow(parent), formRecord(std::make_unique<zq::MainWindowForm>()),
      transport(std::move(bus))
{
    formRecord->buildForm(this);
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(translated("ZQ_Programmer_V1.20A"));
    link = std::make_unique<zq::ops::ProgrammerLink>(transport, *this);
    operationGate = new zq::OperationGate(this);
    // Quitting in the middle of an operation: a transfer the board never answers must not keep
    // the program alive.
    operationGate->setOnCloseDeferred([this] { link->device().close(); });
    registerForDeviceNotifications();
    resetShellState();
    setUpProgramNumberField();
    link->session().state.mcuCodePath = QStringLiteral("./");
    secondPath = QStringLiteral("./");
    disableButtonsAtStart();
    fillChoiceLists();
    formRecord->pushButton_RunApp->hide();
    loadSettings();
    connect(&searchTimer, &QTimer::timeout, this, &MainWindow::winusbDeviceSearch);
    searchTimer.start(1000);
}

// The worker stops and the device goes before config.ini is written: the box of a file that
// cannot be written then runs its event loop with no board open and no device news coming.
MainWindow::~MainWindow()
{
    searchTimer.stop();
    const QString mcuCodePath = state().mcuCodePath;
    link.reset(); // no more device news; the device closed, the worker stopped, then freed
    saveSettings(mcuCodePath);
}

UsbDevice &MainWindow::device() const
{
    return link->device();
}

USB_BURN_CTRL &MainWindow::worker() const
{
    return link->worker();
}

zq::ops::ProgrammerState &MainWindow::state() const
{
    return link->session().state;
}

bool MainWindow::operationRunning() const
{
    return operationGate->busy();
}

bool MainWindow::stopRequested() const
{
    return operationGate->closeRequested();
}

void MainWindow::resetShellState()
{
    zq::ops::ProgrammerState &shared = link->session().state;
    shared.flashKnown = 0;
    shared.bootUpdateEnabled = 0;
    shared.connectionMode = zq::protocol::ConnectionMode::UpdateMcuCode;
    shared.updateLength = 0;
    shared.updateCrc = 0;
    shared.codeFlashAddress = 0x10000;
    // Both numbers show in decimal here, the CRC too; reading a code file replaces the text.
    formRecord->label_MCUCRC->setText(
        QStringLiteral("Mcu code,CRC = 0x") + QString::number(shared.updateCrc) +
        QStringLiteral("  Len: ") + QString::number(shared.updateLength));
    formRecord->progressBar->setValue(0);
}

void MainWindow::setUpProgramNumberField()
{
    QLineEdit *field = formRecord->lineEdit_WrSum;
    const QRegularExpression pattern(QStringLiteral("[1-9][0-9]+$"));
    field->setValidator(new QRegularExpressionValidator(pattern, field));
}

void MainWindow::disableButtonsAtStart()
{
    for (QPushButton *button :
         {formRecord->pushButton_UpdateTarget, formRecord->pushButton_VerifyTarget,
          formRecord->pushButton_UpdateBoot, formRecord->pushButton_UpdateAPP,
          formRecord->pushButton_UpdateFlash, formRecord->pushButton_CheckFlash})
        button->setEnabled(false);
}

// The operations use the selected indexes directly: the MCU type indexes the target id table,
// the speed index is sent as it is.
void MainWindow::fillChoiceLists()
{
    QComboBox *types = formRecord->comboBox_MCUType;
    types->clear();
    for (int index = 0; index < zq::protocol::kMcuTypeCount; ++index)
        types->addItem(zq::protocol::mcuTypeName(index));
    types->setCurrentIndex(0);
    QComboBox *speeds = formRecord->comboBox_SWDSPEED;
    speeds->clear();
    speeds->addItems({QStringLiteral("High"), QStringLiteral("middle"), QStringLiteral("Low")});
    speeds->setCurrentIndex(0);
}

void MainWindow::setFileChooser(FileChooser chooser)
{
    fileChooser = std::move(chooser);
}

// ---- What the operations see of the window (FrontEnd) ----

void MainWindow::appendLog(const QString &line)
{
    formRecord->textEdit->append(line);
}

void MainWindow::clearLog()
{
    formRecord->textEdit->clear();
}

void MainWindow::setProgress(int percent)
{
    formRecord->progressBar->setValue(percent);
}

void MainWindow::logTimestamp()
{
    appendLog(timestampText(QTime::currentTime()));
}

QString MainWindow::toHexText(uint32_t value, int width)
{
    return zq::toHexText(value, width);
}

QString MainWindow::toDecText(int32_t value)
{
    return zq::toDecText(value);
}

void MainWindow::showCriticalMessage(const QString &text)
{
    showMessageBox(translated("Message"), text);
}

void MainWindow::showErrorMessage(const QString &text)
{
    showMessageBox(translated("Error"), text);
}

void MainWindow::showMessageBox(const QString &title, const QString &text)
{
    // Built by hand: the static helper would make OK the default button.
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, this);
    box.exec();
}

// The flash buttons only make sense once the programmer's flash was found in the catalogue.
void MainWindow::setOperationButtonsEnabled(bool enable)
{
    formRecord->pushButton_UpdateTarget->setEnabled(enable);
    formRecord->pushButton_VerifyTarget->setEnabled(enable);
    const bool flashEnable = state().flashKnown != 0 && enable;
    formRecord->pushButton_UpdateFlash->setEnabled(flashEnable);
    formRecord->pushButton_CheckFlash->setEnabled(flashEnable);
}

void MainWindow::setButtonEnabled(Button button, bool enable)
{
    QPushButton *target = button == Button::UpdateAPP ? formRecord->pushButton_UpdateAPP
                                                      : formRecord->pushButton_UpdateBoot;
    target->setEnabled(enable);
}

zq::FrontEnd::Choices MainWindow::choices() const
{
    return {formRecord->comboBox_MCUType->currentIndex(),
            formRecord->comboBox_SWDSPEED->currentIndex(), formRecord->checkBox_PwrOFF->isChecked(),
            formRecord->lineEdit_WrSum->text(), formRecord->lineEdit_MCU->text()};
}

void MainWindow::setMcuTypeIndex(int index)
{
    formRecord->comboBox_MCUType->setCurrentIndex(index);
}

void MainWindow::setCodePathText(const QString &path)
{
    formRecord->lineEdit_MCU->setText(path);
}

void MainWindow::setCodeSummary(const QString &text)
{
    formRecord->label_MCUCRC->setText(text);
}

void MainWindow::setBoardIdText(const QString &text)
{
    formRecord->lineEdit_BoardID->setText(text);
}

void MainWindow::showFlashInfo(const QString &id, const QString &size, const QString &name)
{
    formRecord->lineEdit_FlashID->setText(id);
    formRecord->lineEdit_FlashSize->setText(size);
    formRecord->lineEdit_FlashName->setText(name);
}

QString MainWindow::chooseOpenFile(const QString &caption, const QString &directory,
                                   const QString &filter)
{
    if (fileChooser)
        return fileChooser(caption, directory, filter);
    const QByteArray captionText = caption.toUtf8();
    const QByteArray filterText = filter.toUtf8();
    return QFileDialog::getOpenFileName(this, translated(captionText.constData()), directory,
                                        translated(filterText.constData()));
}

void MainWindow::processEvents()
{
    QCoreApplication::processEvents();
}

// ---- config.ini, read once at start and written once at exit ----

// Only the lines the file holds change anything; the rest keep the form's and the
// constructor's values.
void MainWindow::loadSettings()
{
    const zq::config::SettingsFile settings =
        zq::config::readSettingsFile(zq::config::settingsFilePath());
    if (!settings.opened) {
        appendLog(QStringLiteral("Open config.ini fail"));
        return;
    }
    if (settings.bootUpdateEnabled)
        state().bootUpdateEnabled = *settings.bootUpdateEnabled ? 1 : 0;
    if (settings.mcuCodeLine) {
        state().mcuCodePath = settings.mcuCodeLine->trimmed();
        formRecord->lineEdit_MCU->setText(*settings.mcuCodeLine);
    }
    if (settings.secondPath)
        secondPath = *settings.secondPath;
    if (settings.powerOff)
        formRecord->checkBox_PwrOFF->setChecked(*settings.powerOff);
}

void MainWindow::saveSettings(const QString &mcuCodePath)
{
    const QString path = zq::config::settingsFilePath();
    appendLog(path);
    if (!zq::config::writeSettingsFile(path, mcuCodePath, secondPath,
                                       formRecord->checkBox_PwrOFF->isChecked()))
        showCriticalMessage(QString::fromUtf8("打开文件失败"));
}

// ---- The device list and plug and unplug news ----

// The libusb and emulated buses report plug and unplug on a thread of their own; the news is
// carried to the window's thread. On Windows the news comes to the window itself (nativeEvent).
void MainWindow::registerForDeviceNotifications()
{
    link->setDeviceNewsHandler([this](bool arrived, const QString &name) {
        if (arrived)
            onDeviceArrived(name);
        else
            onDeviceRemoved(name);
    });
#if defined(Q_OS_WIN)
    // The WinUSB bus has no thread of its own: Windows sends its news to this window. The
    // registration lasts as long as the window, so its handle is not kept.
    if (zq::usb::hearsWindowsDeviceChanges(*transport))
        zq::winusb::registerForDeviceInterfaceNotifications(reinterpret_cast<HWND>(winId()));
#endif
}

// While the destructor writes config.ini the link is gone, and Windows may still send news.
void MainWindow::onDeviceArrived(const QString &name)
{
    if (!link)
        return;
    zq::ops::deviceArrived(link->session(), name);
    searchTimer.start(100);
}

void MainWindow::onDeviceRemoved(const QString &name)
{
    if (!link)
        return;
    zq::ops::deviceRemoved(link->session(), name);
    searchTimer.start(100);
}

// The board the user chose stays chosen while it is still there: after another board is
// plugged or pulled, "Open programmer" must not open a different one.
void MainWindow::winusbDeviceSearch()
{
    searchTimer.stop();
    QComboBox *list = formRecord->comboBox_Device;
    const QString chosen = list->currentText();
    list->clear();
    devicePaths.clear();
    devicePaths = transport->findProgrammers();
    list->addItems(devicePaths);
    const int kept = chosen.isEmpty() ? -1 : int(devicePaths.indexOf(chosen));
    if (kept > 0)
        list->setCurrentIndex(kept);
}

// On Windows the WinUSB bus's device news arrives here; elsewhere it comes through the
// transport's listener. Qt always goes on with its own handling of the message.
bool MainWindow::nativeEvent(const QByteArray &eventType, void *message,
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
                             qintptr *result)
#else
                             long *result)
#endif
{
#if defined(Q_OS_WIN)
    Q_UNUSED(eventType)
    Q_UNUSED(result)
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message == WM_DEVICECHANGE) {
        using zq::winusb::DeviceChange;
        const DeviceChange change = zq::winusb::decodeDeviceChange(msg->wParam, msg->lParam);
        if (change.kind == DeviceChange::Kind::Arrival)
            onDeviceArrived(QString::fromStdWString(change.name));
        else if (change.kind == DeviceChange::Kind::Removal)
            onDeviceRemoved(QString::fromStdWString(change.name));
    }
    return false;
#else
    return QMainWindow::nativeEvent(eventType, message, result);
#endif
}

// ---- The buttons ----

void MainWindow::runOperation(const std::function<void(zq::ops::Session &)> &operation)
{
    operationGate->run([this, &operation] { operation(link->session()); });
}

// Hidden by the constructor; reachable only through the meta-object.
void MainWindow::on_pushButton_RunApp_clicked()
{
    runOperation(zq::ops::runUartApplication);
}

void MainWindow::on_pushButton_InputMCUCode_clicked()
{
    runOperation(zq::ops::inputMcuCode);
}

void MainWindow::on_pushButton_UpdateAPP_clicked()
{
    runOperation(zq::ops::updateFirmware);
}

void MainWindow::on_pushButton_UpdateBoot_clicked()
{
    runOperation(zq::ops::updateBoot);
}

void MainWindow::on_pushButton_UpdateFlash_clicked()
{
    runOperation(zq::ops::downloadToProgrammer);
}

void MainWindow::on_pushButton_CheckFlash_clicked()
{
    runOperation(zq::ops::checkSpiFlash);
}

// The pause is deliberate: the window freezes for half a second before it goes.
void MainWindow::on_pushButton_Exit_clicked()
{
    if (operationRunning())
        return;
    QThread::msleep(500);
    close();
}

// Reachable only through the meta-object: no widget is named pushButton.
void MainWindow::on_pushButton_clicked()
{
    appendLog(QStringLiteral("reVal = ") + toDecText(0));
}

void MainWindow::on_pushButton_OpenDevice_clicked()
{
    const QString path = selectedDevicePath();
    runOperation([&path](zq::ops::Session &s) { zq::ops::openProgrammer(s, path); });
}

void MainWindow::on_pushButton_UpdateTarget_clicked()
{
    runOperation(zq::ops::programTargetOperation);
}

void MainWindow::on_pushButton_VerifyTarget_clicked()
{
    runOperation(zq::ops::verifyTarget);
}

// The path at the list's current index, or empty when nothing is selected.
QString MainWindow::selectedDevicePath() const
{
    const int index = formRecord->comboBox_Device->currentIndex();
    return index >= 0 && index < devicePaths.size() ? devicePaths.at(index) : QString();
}
