#include "ModalBoxCloser.h"
#include "WindowLog.h"
#include "WorkingDirectory.h"
#include "operations/ProgrammerState.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextEdit>
#include <QtTest>

using zq::FrontEnd;
using zq::MainWindowForm;

namespace
{

QStringList itemsOf(const QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i) {
        items.append(box->itemText(i));
        if (!box->itemIcon(i).isNull() || box->itemData(i).isValid())
            items.append("(icon or data)");
    }
    return items;
}

QStringList enabledButtons(const MainWindow &window)
{
    QStringList names;
    for (QPushButton *button : window.findChildren<QPushButton *>())
        if (button->isEnabled())
            names.append(button->objectName());
    names.sort();
    return names;
}

} // namespace

class MainWindowStartTest : public QObject
{
    Q_OBJECT

private slots:
    void windowRightAfterConstruction();
    void shellStateStartsAtItsDefaults();
    void metaObjectHoldsTheSlotTableInOrder();
    void hiddenSlotLogsItsResult();
    void operationButtonPolicyFollowsTheFlashCatalogue();
    void timestampLineHasNoLeadingZeros();
    void frontEndReachesTheForm();
    void messageBoxesAreCriticalWithOneOkButton();
};

void MainWindowStartTest::windowRightAfterConstruction()
{
    WorkingDirectory directory;
    MainWindow window;
    MainWindowForm *f = window.form();
    QCOMPARE(window.windowTitle(), QString("ZQ_Programmer_V1.20A"));
    // Qt adds the title and system-menu hints itself; no maximise button.
    const Qt::WindowFlags flags = window.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(!window.parentWidget());

    QCOMPARE(enabledButtons(window), QStringList({"pushButton_Exit", "pushButton_InputMCUCode",
                                                  "pushButton_OpenDevice", "pushButton_RunApp"}));
    QVERIFY(f->pushButton_RunApp->isHidden());

    QCOMPARE(itemsOf(f->comboBox_MCUType),
             QStringList({"ZQ0000", "ZQ51K02", "ZQ240y", "ZQ318", "ZQ427", "ZQ436", "ZQ605"}));
    QCOMPARE(f->comboBox_MCUType->currentIndex(), 0);
    QCOMPARE(itemsOf(f->comboBox_SWDSPEED), QStringList({"High", "middle", "Low"}));
    QCOMPARE(f->comboBox_SWDSPEED->currentIndex(), 0);
    QCOMPARE(f->comboBox_Device->count(), 0);

    QCOMPARE(f->label_MCUCRC->text(), QString("Mcu code,CRC = 0x0  Len: 0"));
    QCOMPARE(f->progressBar->value(), 0);
    QCOMPARE(f->lineEdit_WrSum->text(), QString("100000"));
    QCOMPARE(f->lineEdit_MCU->text(), QString());
    QVERIFY(f->checkBox_PwrOFF->isChecked());

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(960, 660));
    QVERIFY(!f->pushButton_RunApp->isVisible());
    QVERIFY(f->pushButton_Exit->isVisible());
}

void MainWindowStartTest::shellStateStartsAtItsDefaults()
{
    WorkingDirectory directory;
    MainWindow window;
    QCOMPARE(window.state().connectionMode, zq::protocol::ConnectionMode::UpdateMcuCode);
    QCOMPARE(window.state().bootUpdateEnabled, 0);
    QCOMPARE(window.state().flashKnown, 0);
    QCOMPARE(window.state().codeFlashAddress, 0x10000u);
    QCOMPARE(window.state().updateLength, 0);
    QCOMPARE(window.state().updateCrc, 0u);
    QCOMPARE(window.state().mcuCodePath, QString("./"));
    QCOMPARE(window.secondPath, QString("./"));
    QVERIFY(window.devicePaths.isEmpty());

    // One search a second after start-up, not at once; the timer belongs to no Qt parent.
    const QTimer &timer = window.deviceSearchTimer();
    QVERIFY(timer.isActive());
    QCOMPARE(timer.interval(), 1000);
    QVERIFY(!timer.parent());
    QVERIFY(timer.remainingTime() > 500);
}

void MainWindowStartTest::metaObjectHoldsTheSlotTableInOrder()
{
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);
    QStringList slotNames;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        QCOMPARE(method.parameterCount(), 0);
        QCOMPARE(method.returnType(), int(QMetaType::Void));
        slotNames.append(QString::fromLatin1(method.methodSignature()));
    }
    QCOMPARE(slotNames,
             QStringList(
                 {"on_pushButton_RunApp_clicked()", "on_pushButton_InputMCUCode_clicked()",
                  "on_pushButton_UpdateAPP_clicked()", "on_pushButton_UpdateBoot_clicked()",
                  "on_pushButton_UpdateFlash_clicked()", "on_pushButton_CheckFlash_clicked()",
                  "on_pushButton_Exit_clicked()", "on_pushButton_clicked()", "winusbDeviceSearch()",
                  "on_pushButton_OpenDevice_clicked()", "on_pushButton_UpdateTarget_clicked()",
                  "on_pushButton_VerifyTarget_clicked()"}));
    QCOMPARE(QString(meta.className()), QString("MainWindow"));
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
    QCOMPARE(meta.constructorCount(), 0);
}

void MainWindowStartTest::hiddenSlotLogsItsResult()
{
    WorkingDirectory directory;
    MainWindow window;
    QVERIFY(QMetaObject::invokeMethod(&window, "on_pushButton_clicked"));
    QCOMPARE(logLines(window).last(), QString("reVal = 0"));
}

void MainWindowStartTest::operationButtonPolicyFollowsTheFlashCatalogue()
{
    WorkingDirectory directory;
    MainWindow window;
    MainWindowForm *f = window.form();
    const auto state = [f] {
        return QVector<bool>{
            f->pushButton_UpdateTarget->isEnabled(), f->pushButton_VerifyTarget->isEnabled(),
            f->pushButton_UpdateFlash->isEnabled(), f->pushButton_CheckFlash->isEnabled()};
    };
    // Buttons outside the policy keep whatever state they had.
    f->pushButton_UpdateAPP->setEnabled(true);
    f->pushButton_OpenDevice->setEnabled(false);
    const auto others = [f] {
        return QVector<bool>{
            f->pushButton_OpenDevice->isEnabled(), f->pushButton_InputMCUCode->isEnabled(),
            f->pushButton_UpdateAPP->isEnabled(), f->pushButton_UpdateBoot->isEnabled(),
            f->pushButton_Exit->isEnabled()};
    };
    const QVector<bool> othersBefore = others();

    window.state().flashKnown = 0;
    window.setOperationButtonsEnabled(true);
    QCOMPARE(state(), QVector<bool>({true, true, false, false}));

    window.state().flashKnown = 1;
    window.setOperationButtonsEnabled(true);
    QCOMPARE(state(), QVector<bool>({true, true, true, true}));

    window.setOperationButtonsEnabled(false);
    QCOMPARE(state(), QVector<bool>({false, false, false, false}));

    // An earlier flash switched on does not survive a programmer whose flash is unknown.
    window.setOperationButtonsEnabled(true);
    window.state().flashKnown = 0;
    window.setOperationButtonsEnabled(true);
    QCOMPARE(state(), QVector<bool>({true, true, false, false}));
    window.setOperationButtonsEnabled(false);
    QCOMPARE(state(), QVector<bool>({false, false, false, false}));

    QCOMPARE(others(), othersBefore);
}

void MainWindowStartTest::timestampLineHasNoLeadingZeros()
{
    WorkingDirectory directory;
    MainWindow window;
    const QTime before = QTime::currentTime();
    window.logTimestamp();
    const QTime after = QTime::currentTime();
    const QString line = logLines(window).last();
    const QRegularExpression shape(
        QStringLiteral("^Timer:(0|[1-9][0-9]?):(0|[1-9][0-9]?):(0|[1-9][0-9]?)$"));
    const QRegularExpressionMatch match = shape.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    const QTime logged(match.captured(1).toInt(), match.captured(2).toInt(),
                       match.captured(3).toInt());
    QVERIFY(logged.isValid());
    if (after < before)
        QSKIP("the clock passed midnight during the test");
    const QTime from(before.hour(), before.minute(), before.second());
    QVERIFY2(from <= logged && logged <= after, qPrintable(line));
}

void MainWindowStartTest::frontEndReachesTheForm()
{
    WorkingDirectory directory;
    MainWindow window;
    MainWindowForm *f = window.form();
    FrontEnd &frontEnd = window;

    frontEnd.appendLog("first");
    frontEnd.appendLog("second");
    QCOMPARE(logLines(window).mid(logLines(window).size() - 2), QStringList({"first", "second"}));
    frontEnd.clearLog();
    QCOMPARE(f->textEdit->toPlainText(), QString());
    QCOMPARE(frontEnd.choices().programNumberText, QString("100000"));

    frontEnd.setButtonEnabled(FrontEnd::Button::UpdateBoot, true);
    QVERIFY(f->pushButton_UpdateBoot->isEnabled());
    QVERIFY(!f->pushButton_UpdateAPP->isEnabled());
    frontEnd.setButtonEnabled(FrontEnd::Button::UpdateAPP, true);
    frontEnd.setButtonEnabled(FrontEnd::Button::UpdateBoot, false);
    QVERIFY(f->pushButton_UpdateAPP->isEnabled());
    QVERIFY(!f->pushButton_UpdateBoot->isEnabled());

    frontEnd.setMcuTypeIndex(4);
    QCOMPARE(f->comboBox_MCUType->currentText(), QString("ZQ427"));
    QCOMPARE(frontEnd.choices().mcuTypeIndex, 4);
    f->comboBox_SWDSPEED->setCurrentIndex(2);
    QCOMPARE(frontEnd.choices().swdSpeedIndex, 2);
    QVERIFY(frontEnd.choices().powerOffAfterDone);
    f->checkBox_PwrOFF->setChecked(false);
    QVERIFY(!frontEnd.choices().powerOffAfterDone);

    frontEnd.setCodePathText("/data/code.bin");
    QCOMPARE(f->lineEdit_MCU->text(), QString("/data/code.bin"));
    QCOMPARE(frontEnd.choices().codePath, QString("/data/code.bin"));
    frontEnd.showFlashInfo("0xEF4017", "8192KB", "W25Q64");
    QCOMPARE(f->lineEdit_FlashID->text(), QString("0xEF4017"));
    QCOMPARE(f->lineEdit_FlashSize->text(), QString("8192KB"));
    QCOMPARE(f->lineEdit_FlashName->text(), QString("W25Q64"));

    QStringList asked;
    window.setFileChooser(
        [&asked](const QString &caption, const QString &dir, const QString &filter) {
            asked = QStringList{caption, dir, filter};
            return QStringLiteral("/chosen/file.bin");
        });
    QCOMPARE(frontEnd.chooseOpenFile("Open", "./", "Bin (*.bin)"), QString("/chosen/file.bin"));
    QCOMPARE(asked, QStringList({"Open", "./", "Bin (*.bin)"}));

    bool ran = false;
    QMetaObject::invokeMethod(
        &window, [&ran] { ran = true; }, Qt::QueuedConnection);
    frontEnd.processEvents();
    QVERIFY(ran);
}

void MainWindowStartTest::messageBoxesAreCriticalWithOneOkButton()
{
    WorkingDirectory directory;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ModalBoxCloser closer;
    window.showCriticalMessage("No file");
    window.showErrorMessage("Unreadable");
    QCOMPARE(closer.boxes().size(), 2);
    const QString titles[] = {"Message", "Error"};
    const QString texts[] = {"No file", "Unreadable"};
    for (int i = 0; i < 2; ++i) {
        const ModalBoxCloser::Box &box = closer.boxes()[i];
        QCOMPARE(box.title, titles[i]);
        QCOMPARE(box.text, texts[i]);
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!box.hasDefaultButton);
        QCOMPARE(box.parent, &window);
        QVERIFY(box.modal);
    }
}

QTEST_MAIN(MainWindowStartTest)
#include "test_main_window_start.moc"
