#include "MainWindow.h"

#include "MainWindowForm.h"
#include "Translated.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QThread>

namespace zq
{

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), formRecord(std::make_unique<MainWindowForm>())
{
    formRecord->buildForm(this);
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(translated("ZQ_Programmer_V1.20A"));
    resetShellState();
    setUpProgramNumberField();
    mcuCodePath = QStringLiteral("./");
    secondPath = QStringLiteral("./");
    disableButtonsAtStart();
    fillChoiceLists();
    formRecord->pushButton_RunApp->hide();
    loadSettings();
    searchTimer.start(1000);
}

MainWindow::~MainWindow()
{
    saveSettings();
}

void MainWindow::resetShellState()
{
    flashKnown = 0;
    bootUpdateEnabled = 0;
    connectionMode = 0;
    updateLength = 0;
    updateCrc = 0;
    codeFlashAddress = 0x10000;
    // Both numbers show in decimal here, the CRC too; reading a code file replaces the text.
    formRecord->label_MCUCRC->setText(QStringLiteral("Mcu code,CRC = 0x") +
                                      QString::number(updateCrc) + QStringLiteral("  Len: ") +
                                      QString::number(updateLength));
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

// The pause is deliberate: the window freezes for half a second before it goes.
void MainWindow::on_pushButton_Exit_clicked()
{
    QThread::msleep(500);
    close();
}

// Reachable only through the meta-object: no widget is named pushButton.
void MainWindow::on_pushButton_clicked()
{
    appendLog(QStringLiteral("reVal = ") + toDecText(0));
}

} // namespace zq
