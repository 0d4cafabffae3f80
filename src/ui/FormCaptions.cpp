#include "MainWindowForm.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>

namespace zq
{

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace

// The order is the order of the widget tree, so a translator sees the texts as a reader would.
void MainWindowForm::applyCaptions(QMainWindow *window)
{
    window->setWindowTitle(tr(""));
    groupBox->setTitle(tr("Message"));
    pushButton_InputMCUCode->setText(tr("Input File"));
    label_MCUCRC->setText(tr("00000000"));
    groupBox_POFF->setTitle(tr("Control"));
    checkBox_PwrOFF->setText(tr("Stop power supply to \nthe targe PCB after done"));
    label_3->setText(tr("<html><head/><body><p>Board Flash ID: </p></body></html>"));
    label_4->setText(tr("<html><head/><body><p>Board Flash Size: </p></body></html>"));
    label_5->setText(tr("<html><head/><body><p>Board Flash Name: </p></body></html>"));
    pushButton_OpenDevice->setText(tr("Open programmer"));
    pushButton_UpdateTarget->setText(tr("Program"));
    pushButton_VerifyTarget->setText(tr("Verify"));
    pushButton_UpdateFlash->setText(tr("Download to programmer"));
    pushButton_CheckFlash->setText(tr("Check SpiFlash CRC"));
    pushButton_UpdateAPP->setText(tr("Firmware update"));
    pushButton_UpdateBoot->setText(tr("Boot update"));
    pushButton_Exit->setText(tr("Exit"));
    label->setText(tr("Target Name:"));
    pushButton_RunApp->setText(tr("Run Uart Application"));
    label_2->setText(tr("Program Number:"));
    label_6->setText(tr("Program Speed:"));
    label_7->setText(tr("Board ID:"));
    lineEdit_WrSum->setText(tr("100000"));
}

} // namespace zq
