#include "ui/MainWindow.h"

#include "ui/MainWindowForm.h"
#include "ui/OperationGate.h"
#include "operations/Operations.h"
#include "operations/Session.h"

#include <QComboBox>
#include <QThread>

void MainWindow::runOperation(const std::function<void(zq::ops::Session &)> &operation)
{
    operationGate->run([this, &operation] { operation(*session); });
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
