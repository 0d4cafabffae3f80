#include "ui/MainWindow.h"

#include "ui/MainWindowForm.h"
#include "frontend/NumberText.h"
#include "operations/ProgrammerState.h"
#include "ui/Translated.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTime>

using zq::timestampText;
using zq::translated;

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

int MainWindow::mcuTypeIndex() const
{
    return formRecord->comboBox_MCUType->currentIndex();
}

void MainWindow::setMcuTypeIndex(int index)
{
    formRecord->comboBox_MCUType->setCurrentIndex(index);
}

int MainWindow::swdSpeedIndex() const
{
    return formRecord->comboBox_SWDSPEED->currentIndex();
}

bool MainWindow::powerOffAfterDone() const
{
    return formRecord->checkBox_PwrOFF->isChecked();
}

QString MainWindow::programNumberText() const
{
    return formRecord->lineEdit_WrSum->text();
}

QString MainWindow::codePathText() const
{
    return formRecord->lineEdit_MCU->text();
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
