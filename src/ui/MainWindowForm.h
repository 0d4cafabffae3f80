#pragma once

#include <QCoreApplication>
#include <QString>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QVBoxLayout;
class QWidget;

namespace zq
{

// The window's texts all belong to the translation context "MainWindow", whichever class of the
// ui layer asks for them.
inline QString translated(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

// The main window's fixed form: one pointer per named object, in creation order (which is also
// the keyboard focus order). The widgets belong to their Qt parents; this record owns nothing.
class MainWindowForm
{
public:
    QWidget *centralWidget = nullptr;
    QGridLayout *gridLayout = nullptr;
    QGroupBox *groupBox = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QTextEdit *textEdit = nullptr;
    QProgressBar *progressBar = nullptr;
    QWidget *widget = nullptr;
    QGridLayout *gridLayout_4 = nullptr;
    QPushButton *pushButton_InputMCUCode = nullptr;
    QLabel *label_MCUCRC = nullptr;
    QLineEdit *lineEdit_MCU = nullptr;
    QGroupBox *groupBox_POFF = nullptr;
    QCheckBox *checkBox_PwrOFF = nullptr;
    QLabel *label_3 = nullptr;
    QLabel *label_4 = nullptr;
    QLabel *label_5 = nullptr;
    QWidget *gridLayoutWidget = nullptr;
    QVBoxLayout *verticalLayout_2 = nullptr;
    QPushButton *pushButton_OpenDevice = nullptr;
    QPushButton *pushButton_UpdateTarget = nullptr;
    QPushButton *pushButton_VerifyTarget = nullptr;
    QPushButton *pushButton_UpdateFlash = nullptr;
    QPushButton *pushButton_CheckFlash = nullptr;
    QPushButton *pushButton_UpdateAPP = nullptr;
    QPushButton *pushButton_UpdateBoot = nullptr;
    QPushButton *pushButton_Exit = nullptr;
    QWidget *verticalLayoutWidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QLineEdit *lineEdit_FlashID = nullptr;
    QLineEdit *lineEdit_FlashSize = nullptr;
    QLineEdit *lineEdit_FlashName = nullptr;
    QComboBox *comboBox_Device = nullptr;
    QLabel *label = nullptr;
    QPushButton *pushButton_RunApp = nullptr;
    QLabel *label_2 = nullptr;
    QLabel *label_6 = nullptr;
    QLineEdit *lineEdit_BoardID = nullptr;
    QLabel *label_7 = nullptr;
    QWidget *verticalLayoutWidget_2 = nullptr;
    QVBoxLayout *verticalLayout_3 = nullptr;
    QLineEdit *lineEdit_WrSum = nullptr;
    QComboBox *comboBox_SWDSPEED = nullptr;
    QComboBox *comboBox_MCUType = nullptr;

    // Creates every widget on the window, sets the captions, then connects the window's
    // on_<object name>_clicked slots by name.
    void buildForm(QMainWindow *window);

    // Every caption goes through the translator under the context "MainWindow".
    void applyCaptions(QMainWindow *window);

private:
    void setUpWindow(QMainWindow *window);
    void buildMessageArea();
    void buildCodeFileRow();
    void buildControlPanel();
    void buildButtonColumn();
    void buildFlashInfoFields();
    void buildSettingsFields();
};

} // namespace zq
