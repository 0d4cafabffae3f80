#include "MainWindow.h"

#include "MainWindowForm.h"
#include "SettingsFile.h"

#include <QCheckBox>
#include <QLineEdit>

namespace zq
{

// Only the lines the file holds change anything; the rest keep the form's and the
// constructor's values.
void MainWindow::loadSettings()
{
    const config::SettingsFile settings = config::readSettingsFile(config::settingsFilePath());
    if (!settings.opened) {
        appendLog(QStringLiteral("Open config.ini fail"));
        return;
    }
    if (settings.bootUpdateEnabled)
        bootUpdateEnabled = *settings.bootUpdateEnabled ? 1 : 0;
    if (settings.mcuCodeLine) {
        mcuCodePath = settings.mcuCodeLine->trimmed();
        formRecord->lineEdit_MCU->setText(*settings.mcuCodeLine);
    }
    if (settings.secondPath)
        secondPath = *settings.secondPath;
    if (settings.powerOff)
        formRecord->checkBox_PwrOFF->setChecked(*settings.powerOff);
}

void MainWindow::saveSettings()
{
    const QString path = config::settingsFilePath();
    appendLog(path);
    if (!config::writeSettingsFile(path, mcuCodePath, secondPath,
                                   formRecord->checkBox_PwrOFF->isChecked()))
        showCriticalMessage(QString::fromUtf8("打开文件失败"));
}

} // namespace zq
