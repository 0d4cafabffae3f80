#include "ui/MainWindow.h"

#include "ui/MainWindowForm.h"
#include "operations/ProgrammerState.h"
#include "config/SettingsFile.h"

#include <QCheckBox>
#include <QLineEdit>

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

void MainWindow::saveSettings()
{
    const QString path = zq::config::settingsFilePath();
    appendLog(path);
    if (!zq::config::writeSettingsFile(path, state().mcuCodePath, secondPath,
                                       formRecord->checkBox_PwrOFF->isChecked()))
        showCriticalMessage(QString::fromUtf8("打开文件失败"));
}
