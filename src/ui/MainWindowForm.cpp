#include "ui/MainWindowForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

namespace zq
{

namespace
{

// The four fonts of the form. Everything is bold except the progress bar's text.
QFont makeFont(const QString &family, int pointSize, int weight)
{
    QFont font;
    font.setFamily(family);
    font.setPointSize(pointSize);
    font.setWeight(weight);
    return font;
}

// 微软雅黑 8, bold: the window and whatever sets no font of its own
QFont windowFont()
{
    return makeFont(QString::fromUtf8("微软雅黑"), 8, QFont::Bold);
}

// Arial 9, bold: group boxes, most buttons and labels
QFont controlFont()
{
    return makeFont(QStringLiteral("Arial"), 9, QFont::Bold);
}

// Arial 10, bold: the log panel
QFont logFont()
{
    return makeFont(QStringLiteral("Arial"), 10, QFont::Bold);
}

// Arial 9, normal: the only text of the form that is not bold
QFont progressFont()
{
    return makeFont(QStringLiteral("Arial"), 9, QFont::Normal);
}

template <class T, class Parent> T *make(Parent *parent, const char *objectName)
{
    auto *object = new T(parent);
    object->setObjectName(QString::fromLatin1(objectName));
    return object;
}

template <class T> T *placed(QWidget *parent, const char *objectName, const QRect &geometry)
{
    T *widget = make<T>(parent, objectName);
    widget->setGeometry(geometry);
    return widget;
}

void setSizePolicy(QWidget *widget, QSizePolicy::Policy horizontal, QSizePolicy::Policy vertical)
{
    QSizePolicy policy(horizontal, vertical);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    policy.setHeightForWidth(widget->sizePolicy().hasHeightForWidth());
    widget->setSizePolicy(policy);
}

QVBoxLayout *makeColumn(QWidget *holder, const char *objectName, int spacing)
{
    auto *column = make<QVBoxLayout>(holder, objectName);
    column->setSpacing(spacing);
    column->setContentsMargins(0, 0, 0, 0);
    return column;
}

template <class T> T *columnItem(QWidget *holder, QVBoxLayout *column, const char *objectName)
{
    T *widget = make<T>(holder, objectName);
    column->addWidget(widget);
    return widget;
}

} // namespace

void MainWindowForm::buildForm(QMainWindow *window)
{
    setUpWindow(window);
    centralWidget = make<QWidget>(window, "centralWidget");
    setSizePolicy(centralWidget, QSizePolicy::Expanding, QSizePolicy::Expanding);
    centralWidget->setBaseSize(QSize(1, 1));
    centralWidget->setLayoutDirection(Qt::LeftToRight);
    gridLayout = make<QGridLayout>(centralWidget, "gridLayout");
    gridLayout->setHorizontalSpacing(0);
    gridLayout->setVerticalSpacing(1);
    gridLayout->setContentsMargins(1, 1, 1, 1);
    buildMessageArea();
    buildControlPanel();
    window->setCentralWidget(centralWidget);
    applyCaptions(window);
    QMetaObject::connectSlotsByName(window);
}

void MainWindowForm::setUpWindow(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->setWindowModality(Qt::NonModal);
    window->resize(960, 660);
    window->setMinimumSize(QSize(960, 660));
    setSizePolicy(window, QSizePolicy::Expanding, QSizePolicy::Expanding);
    window->setFont(windowFont());
    window->setCursor(QCursor(Qt::PointingHandCursor));
}

void MainWindowForm::buildMessageArea()
{
    groupBox = make<QGroupBox>(centralWidget, "groupBox");
    setSizePolicy(groupBox, QSizePolicy::Expanding, QSizePolicy::Expanding);
    groupBox->setMinimumSize(QSize(700, 600));
    groupBox->setFont(controlFont());
    gridLayout_2 = make<QGridLayout>(groupBox, "gridLayout_2");
    gridLayout_2->setSpacing(1);
    gridLayout_2->setContentsMargins(11, 11, 11, 11);
    textEdit = make<QTextEdit>(groupBox, "textEdit");
    setSizePolicy(textEdit, QSizePolicy::Expanding, QSizePolicy::Expanding);
    textEdit->setFont(logFont());
    gridLayout_2->addWidget(textEdit, 1, 0, 1, 1);
    progressBar = make<QProgressBar>(groupBox, "progressBar");
    progressBar->setFont(progressFont());
    progressBar->setValue(0);
    gridLayout_2->addWidget(progressBar, 2, 0, 1, 1);
    buildCodeFileRow();
    gridLayout->addWidget(groupBox, 0, 0, 1, 1);
}

void MainWindowForm::buildCodeFileRow()
{
    widget = make<QWidget>(groupBox, "widget");
    setSizePolicy(widget, QSizePolicy::Expanding, QSizePolicy::Fixed);
    widget->setMinimumSize(QSize(0, 50));
    gridLayout_4 = make<QGridLayout>(widget, "gridLayout_4");
    gridLayout_4->setSpacing(6);
    gridLayout_4->setContentsMargins(0, 2, 0, 2);
    pushButton_InputMCUCode = make<QPushButton>(widget, "pushButton_InputMCUCode");
    pushButton_InputMCUCode->setMinimumSize(QSize(120, 0));
    pushButton_InputMCUCode->setFont(controlFont());
    gridLayout_4->addWidget(pushButton_InputMCUCode, 1, 1, 1, 1);
    label_MCUCRC = make<QLabel>(widget, "label_MCUCRC");
    gridLayout_4->addWidget(label_MCUCRC, 0, 0, 1, 1);
    lineEdit_MCU = make<QLineEdit>(widget, "lineEdit_MCU");
    lineEdit_MCU->setReadOnly(true);
    gridLayout_4->addWidget(lineEdit_MCU, 1, 0, 1, 1);
    gridLayout_2->addWidget(widget, 0, 0, 1, 1);
}

void MainWindowForm::buildControlPanel()
{
    groupBox_POFF = make<QGroupBox>(centralWidget, "groupBox_POFF");
    setSizePolicy(groupBox_POFF, QSizePolicy::Fixed, QSizePolicy::Expanding);
    groupBox_POFF->setMinimumSize(QSize(250, 0));
    groupBox_POFF->setFont(controlFont());
    checkBox_PwrOFF = placed<QCheckBox>(groupBox_POFF, "checkBox_PwrOFF", QRect(50, 310, 181, 31));
    checkBox_PwrOFF->setFont(controlFont());
    checkBox_PwrOFF->setChecked(true);
    label_3 = placed<QLabel>(groupBox_POFF, "label_3", QRect(10, 452, 91, 16));
    label_3->setFont(controlFont());
    label_4 = placed<QLabel>(groupBox_POFF, "label_4", QRect(10, 482, 111, 16));
    label_4->setFont(controlFont());
    label_5 = placed<QLabel>(groupBox_POFF, "label_5", QRect(10, 510, 121, 16));
    label_5->setFont(controlFont());
    buildButtonColumn();
    buildFlashInfoFields();
    comboBox_Device = placed<QComboBox>(groupBox_POFF, "comboBox_Device", QRect(10, 20, 231, 22));
    label = placed<QLabel>(groupBox_POFF, "label", QRect(10, 418, 91, 16));
    pushButton_RunApp =
        placed<QPushButton>(groupBox_POFF, "pushButton_RunApp", QRect(10, 570, 209, 23));
    pushButton_RunApp->setFont(controlFont());
    label_2 = placed<QLabel>(groupBox_POFF, "label_2", QRect(10, 362, 111, 16));
    label_6 = placed<QLabel>(groupBox_POFF, "label_6", QRect(10, 392, 111, 16));
    lineEdit_BoardID =
        placed<QLineEdit>(groupBox_POFF, "lineEdit_BoardID", QRect(120, 50, 111, 21));
    label_7 = placed<QLabel>(groupBox_POFF, "label_7", QRect(40, 52, 71, 16));
    buildSettingsFields();
    gridLayout->addWidget(groupBox_POFF, 0, 1, 1, 1);
}

void MainWindowForm::buildButtonColumn()
{
    gridLayoutWidget = placed<QWidget>(groupBox_POFF, "gridLayoutWidget", QRect(20, 80, 211, 221));
    verticalLayout_2 = makeColumn(gridLayoutWidget, "verticalLayout_2", 5);
    QWidget *holder = gridLayoutWidget;
    pushButton_OpenDevice =
        columnItem<QPushButton>(holder, verticalLayout_2, "pushButton_OpenDevice");
    pushButton_UpdateTarget =
        columnItem<QPushButton>(holder, verticalLayout_2, "pushButton_UpdateTarget");
    pushButton_VerifyTarget =
        columnItem<QPushButton>(holder, verticalLayout_2, "pushButton_VerifyTarget");
    pushButton_UpdateFlash =
        columnItem<QPushButton>(holder, verticalLayout_2, "pushButton_UpdateFlash");
    pushButton_CheckFlash =
        columnItem<QPushButton>(holder, verticalLayout_2, "pushButton_CheckFlash");
    pushButton_UpdateAPP =
        columnItem<QPushButton>(holder, verticalLayout_2, "pushButton_UpdateAPP");
    pushButton_UpdateBoot =
        columnItem<QPushButton>(holder, verticalLayout_2, "pushButton_UpdateBoot");
    pushButton_Exit = columnItem<QPushButton>(holder, verticalLayout_2, "pushButton_Exit");
    for (QPushButton *button : {pushButton_UpdateFlash, pushButton_CheckFlash, pushButton_UpdateAPP,
                                pushButton_UpdateBoot, pushButton_Exit})
        button->setFont(controlFont());
}

void MainWindowForm::buildFlashInfoFields()
{
    verticalLayoutWidget =
        placed<QWidget>(groupBox_POFF, "verticalLayoutWidget", QRect(130, 448, 101, 81));
    verticalLayout = makeColumn(verticalLayoutWidget, "verticalLayout", 6);
    QWidget *holder = verticalLayoutWidget;
    lineEdit_FlashID = columnItem<QLineEdit>(holder, verticalLayout, "lineEdit_FlashID");
    lineEdit_FlashSize = columnItem<QLineEdit>(holder, verticalLayout, "lineEdit_FlashSize");
    lineEdit_FlashName = columnItem<QLineEdit>(holder, verticalLayout, "lineEdit_FlashName");
    for (QLineEdit *field : {lineEdit_FlashID, lineEdit_FlashSize, lineEdit_FlashName}) {
        field->setReadOnly(true);
        field->setFont(controlFont());
    }
}

void MainWindowForm::buildSettingsFields()
{
    verticalLayoutWidget_2 =
        placed<QWidget>(groupBox_POFF, "verticalLayoutWidget_2", QRect(130, 360, 101, 81));
    verticalLayout_3 = makeColumn(verticalLayoutWidget_2, "verticalLayout_3", 6);
    QWidget *holder = verticalLayoutWidget_2;
    lineEdit_WrSum = columnItem<QLineEdit>(holder, verticalLayout_3, "lineEdit_WrSum");
    comboBox_SWDSPEED = columnItem<QComboBox>(holder, verticalLayout_3, "comboBox_SWDSPEED");
    comboBox_MCUType = columnItem<QComboBox>(holder, verticalLayout_3, "comboBox_MCUType");
}

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
