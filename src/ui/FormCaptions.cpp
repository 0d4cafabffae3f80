#include "ui/MainWindowForm.h"

#include "ui/Translated.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>

namespace zq
{

// The order is the order of the widget tree, so a translator sees the texts as a reader would.
void MainWindowForm::applyCaptions(QMainWindow *window)
{
    window->setWindowTitle(translated(""));
    groupBox->setTitle(translated("Message"));
    pushButton_InputMCUCode->setText(translated("Input File"));
    label_MCUCRC->setText(translated("00000000"));
    groupBox_POFF->setTitle(translated("Control"));
    checkBox_PwrOFF->setText(translated("Stop power supply to \nthe targe PCB after done"));
    label_3->setText(translated("<html><head/><body><p>Board Flash ID: </p></body></html>"));
    label_4->setText(translated("<html><head/><body><p>Board Flash Size: </p></body></html>"));
    label_5->setText(translated("<html><head/><body><p>Board Flash Name: </p></body></html>"));
    pushButton_OpenDevice->setText(translated("Open programmer"));
    pushButton_UpdateTarget->setText(translated("Program"));
    pushButton_VerifyTarget->setText(translated("Verify"));
    pushButton_UpdateFlash->setText(translated("Download to programmer"));
    pushButton_CheckFlash->setText(translated("Check SpiFlash CRC"));
    pushButton_UpdateAPP->setText(translated("Firmware update"));
    pushButton_UpdateBoot->setText(translated("Boot update"));
    pushButton_Exit->setText(translated("Exit"));
    label->setText(translated("Target Name:"));
    pushButton_RunApp->setText(translated("Run Uart Application"));
    label_2->setText(translated("Program Number:"));
    label_6->setText(translated("Program Speed:"));
    label_7->setText(translated("Board ID:"));
    lineEdit_WrSum->setText(translated("100000"));
}

} // namespace zq
