#include "ui/MainWindow.h"

#include "ui/MainWindowForm.h"
#include "ui/OperationGate.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "ui/Translated.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QThread>

using zq::translated;

namespace
{

std::shared_ptr<zq::usb::UsbTransport> platformTransport()
{
#if defined(_WIN32)
    return zq::usb::makeWinUsbTransport();
#elif defined(ZQ_HAVE_LIBUSB)
    return zq::usb::makeLibusbTransport();
#else
#error "This platform has no USB transport yet"
#endif
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : MainWindow(platformTransport(), parent) {}

MainWindow::MainWindow(std::shared_ptr<zq::usb::UsbTransport> bus, QWidget *parent)
    : QMainWindow(parent), formRecord(std::make_unique<zq::MainWindowForm>()),
      transport(std::move(bus))
{
    formRecord->buildForm(this);
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(translated("ZQ_Programmer_V1.20A"));
    burnCtrl = new USB_BURN_CTRL;
    usbDevice = new UsbDevice(transport);
    burnCtrl->device = usbDevice;
    session = std::make_unique<zq::ops::Session>(*usbDevice, *burnCtrl, *this);
    operationGate = new zq::OperationGate(this);
    // Quitting in the middle of an operation: a transfer the board never answers must not keep
    // the program alive.
    operationGate->setOnCloseDeferred([this] { usbDevice->close(); });
    registerForDeviceNotifications();
    resetShellState();
    setUpProgramNumberField();
    session->state.mcuCodePath = QStringLiteral("./");
    secondPath = QStringLiteral("./");
    disableButtonsAtStart();
    fillChoiceLists();
    formRecord->pushButton_RunApp->hide();
    loadSettings();
    connect(&searchTimer, &QTimer::timeout, this, &MainWindow::winusbDeviceSearch);
    searchTimer.start(1000);
}

MainWindow::~MainWindow()
{
    // No device news may reach a window that is going.
    transport->setDeviceListener(nullptr);
    delete burnCtrl; // ends a pending transfer, then waits for the worker to leave its loop
    burnCtrl = nullptr;
    delete usbDevice;
    usbDevice = nullptr;
    saveSettings();
    session.reset(); // its references went with the worker and the device; only state was left
}

zq::ops::ProgrammerState &MainWindow::state() const
{
    return session->state;
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
    zq::ops::ProgrammerState &shared = session->state;
    shared.flashKnown = 0;
    shared.bootUpdateEnabled = 0;
    shared.connectionMode = 0;
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
    types->addItems({QStringLiteral("ZQ0000"), QStringLiteral("ZQ51K02"), QStringLiteral("ZQ240y"),
                     QStringLiteral("ZQ318"), QStringLiteral("ZQ427"), QStringLiteral("ZQ436"),
                     QStringLiteral("ZQ605")});
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
