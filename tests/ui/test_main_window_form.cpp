#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"
#include "operations/ProgrammerState.h"
#include "WorkingDirectory.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QTranslator>
#include <QtTest>
#include <memory>

using zq::MainWindowForm;

namespace
{

struct Node {
    const char *name;
    const char *className;
    const char *parent;
};

// The widget tree in creation order.
const QVector<Node> tree = {
    {"centralWidget", "QWidget", "MainWindow"},
    {"gridLayout", "QGridLayout", "centralWidget"},
    {"groupBox", "QGroupBox", "centralWidget"},
    {"gridLayout_2", "QGridLayout", "groupBox"},
    {"textEdit", "QTextEdit", "groupBox"},
    {"progressBar", "QProgressBar", "groupBox"},
    {"widget", "QWidget", "groupBox"},
    {"gridLayout_4", "QGridLayout", "widget"},
    {"pushButton_InputMCUCode", "QPushButton", "widget"},
    {"label_MCUCRC", "QLabel", "widget"},
    {"lineEdit_MCU", "QLineEdit", "widget"},
    {"groupBox_POFF", "QGroupBox", "centralWidget"},
    {"checkBox_PwrOFF", "QCheckBox", "groupBox_POFF"},
    {"label_3", "QLabel", "groupBox_POFF"},
    {"label_4", "QLabel", "groupBox_POFF"},
    {"label_5", "QLabel", "groupBox_POFF"},
    {"gridLayoutWidget", "QWidget", "groupBox_POFF"},
    {"verticalLayout_2", "QVBoxLayout", "gridLayoutWidget"},
    {"pushButton_OpenDevice", "QPushButton", "gridLayoutWidget"},
    {"pushButton_UpdateTarget", "QPushButton", "gridLayoutWidget"},
    {"pushButton_VerifyTarget", "QPushButton", "gridLayoutWidget"},
    {"pushButton_UpdateFlash", "QPushButton", "gridLayoutWidget"},
    {"pushButton_CheckFlash", "QPushButton", "gridLayoutWidget"},
    {"pushButton_UpdateAPP", "QPushButton", "gridLayoutWidget"},
    {"pushButton_UpdateBoot", "QPushButton", "gridLayoutWidget"},
    {"pushButton_Exit", "QPushButton", "gridLayoutWidget"},
    {"verticalLayoutWidget", "QWidget", "groupBox_POFF"},
    {"verticalLayout", "QVBoxLayout", "verticalLayoutWidget"},
    {"lineEdit_FlashID", "QLineEdit", "verticalLayoutWidget"},
    {"lineEdit_FlashSize", "QLineEdit", "verticalLayoutWidget"},
    {"lineEdit_FlashName", "QLineEdit", "verticalLayoutWidget"},
    {"comboBox_Device", "QComboBox", "groupBox_POFF"},
    {"label", "QLabel", "groupBox_POFF"},
    {"pushButton_RunApp", "QPushButton", "groupBox_POFF"},
    {"label_2", "QLabel", "groupBox_POFF"},
    {"label_6", "QLabel", "groupBox_POFF"},
    {"lineEdit_BoardID", "QLineEdit", "groupBox_POFF"},
    {"label_7", "QLabel", "groupBox_POFF"},
    {"verticalLayoutWidget_2", "QWidget", "groupBox_POFF"},
    {"verticalLayout_3", "QVBoxLayout", "verticalLayoutWidget_2"},
    {"lineEdit_WrSum", "QLineEdit", "verticalLayoutWidget_2"},
    {"comboBox_SWDSPEED", "QComboBox", "verticalLayoutWidget_2"},
    {"comboBox_MCUType", "QComboBox", "verticalLayoutWidget_2"},
};

// Every caption of the form, in the order the form sets them.
const QStringList captions = {
    QString(),
    "Message",
    "Input File",
    "00000000",
    "Control",
    "Stop power supply to \nthe targe PCB after done",
    "<html><head/><body><p>Board Flash ID: </p></body></html>",
    "<html><head/><body><p>Board Flash Size: </p></body></html>",
    "<html><head/><body><p>Board Flash Name: </p></body></html>",
    "Open programmer",
    "Program",
    "Verify",
    "Download to programmer",
    "Check SpiFlash CRC",
    "Firmware update",
    "Boot update",
    "Exit",
    "Target Name:",
    "Run Uart Application",
    "Program Number:",
    "Program Speed:",
    "Board ID:",
    "100000",
};

// Marks every text of the window's context, so a caption that bypasses the translator shows.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "MainWindow") != 0)
            return {};
        requests.append(QString::fromUtf8(sourceText));
        return QLatin1Char('[') + QString::fromUtf8(sourceText) + QLatin1Char(']');
    }
    bool isEmpty() const override { return false; }

    mutable QStringList requests;
};

QString captionOf(QWidget *widget)
{
    if (auto *box = qobject_cast<QGroupBox *>(widget))
        return box->title();
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *field = qobject_cast<QLineEdit *>(widget))
        return field->text();
    return QString();
}

QStringList captionsShown(const MainWindow &window)
{
    const MainWindowForm *f = window.form();
    QStringList shown = {window.windowTitle()};
    for (QWidget *w : std::initializer_list<QWidget *>{f->groupBox,
                                                       f->pushButton_InputMCUCode,
                                                       f->label_MCUCRC,
                                                       f->groupBox_POFF,
                                                       f->checkBox_PwrOFF,
                                                       f->label_3,
                                                       f->label_4,
                                                       f->label_5,
                                                       f->pushButton_OpenDevice,
                                                       f->pushButton_UpdateTarget,
                                                       f->pushButton_VerifyTarget,
                                                       f->pushButton_UpdateFlash,
                                                       f->pushButton_CheckFlash,
                                                       f->pushButton_UpdateAPP,
                                                       f->pushButton_UpdateBoot,
                                                       f->pushButton_Exit,
                                                       f->label,
                                                       f->pushButton_RunApp,
                                                       f->label_2,
                                                       f->label_6,
                                                       f->label_7,
                                                       f->lineEdit_WrSum})
        shown.append(captionOf(w));
    return shown;
}

void verifyGridCell(QGridLayout *grid, QWidget *widget, int row, int column)
{
    const int index = grid->indexOf(widget);
    QVERIFY2(index >= 0, qPrintable(widget->objectName()));
    int r = -1, c = -1, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(index, &r, &c, &rowSpan, &columnSpan);
    QCOMPARE(QPoint(r, c), QPoint(row, column));
    QCOMPARE(QSize(columnSpan, rowSpan), QSize(1, 1));
    QCOMPARE(grid->itemAt(index)->alignment(), Qt::Alignment());
}

void verifyMargins(QLayout *layout, int left, int top, int right, int bottom)
{
    QCOMPARE(layout->contentsMargins(), QMargins(left, top, right, bottom));
}

void verifyFont(QWidget *widget, const QString &family, int pointSize, int weight)
{
    const QString name = widget->objectName();
    QVERIFY2(widget->testAttribute(Qt::WA_SetFont), qPrintable(name));
    QCOMPARE(widget->font().family(), family);
    QCOMPARE(widget->font().pointSize(), pointSize);
    QCOMPARE(widget->font().weight(), weight);
}

} // namespace

class MainWindowFormTest : public QObject
{
    Q_OBJECT

private slots:
    void treeHoldsEveryObjectWithItsClassAndParent();
    void creationOrderIsTheFocusOrder();
    void layoutsPlaceTheWidgets();
    void sizesPoliciesAndGeometry();
    void fontsAndCursor();
    void captionsGoThroughTheTranslator();
    void windowKeepsAGivenObjectName();
    void messageAreaTakesTheRoomWhenTheWindowGrows();
    void fieldsThatTheUserCannotEdit();
    void programNumberAcceptsOnlyNumbersWithoutLeadingZero();

    // Every window reads and writes config.ini, so each test gets an empty folder.
    void init() { directory = std::make_unique<WorkingDirectory>(); }
    void cleanup() { directory.reset(); }

private:
    std::unique_ptr<WorkingDirectory> directory;
};

void MainWindowFormTest::treeHoldsEveryObjectWithItsClassAndParent()
{
    MainWindow window;
    QCOMPARE(window.objectName(), QString("MainWindow"));
    QCOMPARE(window.centralWidget(), window.form()->centralWidget);
    for (const Node &node : tree) {
        auto *object = window.findChild<QObject *>(node.name);
        QVERIFY2(object, node.name);
        QCOMPARE(object->metaObject()->className(), node.className);
        QCOMPARE(object->parent()->objectName(), QString(node.parent));
        QCOMPARE(window.findChildren<QObject *>(node.name).size(), 1);
    }
    QVERIFY(!window.findChild<QObject *>("pushButton"));
    QVERIFY(!window.menuWidget());
    QVERIFY(!window.findChild<QStatusBar *>());
    QVERIFY(!window.findChild<QToolBar *>());
}

void MainWindowFormTest::creationOrderIsTheFocusOrder()
{
    MainWindow window;
    QStringList expected;
    for (const Node &node : tree)
        if (!QByteArray(node.className).contains("Layout"))
            expected.append(node.name);
    QStringList chain;
    for (QWidget *w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain())
        if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain.append(w->objectName());
    QCOMPARE(chain, expected);
}

void MainWindowFormTest::layoutsPlaceTheWidgets()
{
    MainWindow window;
    MainWindowForm *f = window.form();
    QCOMPARE(f->centralWidget->layout(), f->gridLayout);
    QCOMPARE(f->gridLayout->horizontalSpacing(), 0);
    QCOMPARE(f->gridLayout->verticalSpacing(), 1);
    verifyMargins(f->gridLayout, 1, 1, 1, 1);
    verifyGridCell(f->gridLayout, f->groupBox, 0, 0);
    verifyGridCell(f->gridLayout, f->groupBox_POFF, 0, 1);
    QCOMPARE(f->gridLayout->count(), 2);

    QCOMPARE(f->groupBox->layout(), f->gridLayout_2);
    QCOMPARE(f->gridLayout_2->spacing(), 1);
    verifyMargins(f->gridLayout_2, 11, 11, 11, 11);
    verifyGridCell(f->gridLayout_2, f->widget, 0, 0);
    verifyGridCell(f->gridLayout_2, f->textEdit, 1, 0);
    verifyGridCell(f->gridLayout_2, f->progressBar, 2, 0);

    QCOMPARE(f->widget->layout(), f->gridLayout_4);
    QCOMPARE(f->gridLayout_4->spacing(), 6);
    verifyMargins(f->gridLayout_4, 0, 2, 0, 2);
    verifyGridCell(f->gridLayout_4, f->label_MCUCRC, 0, 0);
    verifyGridCell(f->gridLayout_4, f->lineEdit_MCU, 1, 0);
    verifyGridCell(f->gridLayout_4, f->pushButton_InputMCUCode, 1, 1);

    QCOMPARE(f->groupBox_POFF->layout(), nullptr);
    const QVector<QPair<QVBoxLayout *, QList<QWidget *>>> columns = {
        {f->verticalLayout_2,
         {f->pushButton_OpenDevice, f->pushButton_UpdateTarget, f->pushButton_VerifyTarget,
          f->pushButton_UpdateFlash, f->pushButton_CheckFlash, f->pushButton_UpdateAPP,
          f->pushButton_UpdateBoot, f->pushButton_Exit}},
        {f->verticalLayout, {f->lineEdit_FlashID, f->lineEdit_FlashSize, f->lineEdit_FlashName}},
        {f->verticalLayout_3, {f->lineEdit_WrSum, f->comboBox_SWDSPEED, f->comboBox_MCUType}},
    };
    for (const auto &column : columns) {
        QCOMPARE(column.first->count(), column.second.size());
        for (int i = 0; i < column.second.size(); ++i)
            QCOMPARE(column.first->itemAt(i)->widget(), column.second[i]);
        verifyMargins(column.first, 0, 0, 0, 0);
    }
    QCOMPARE(f->verticalLayout_2->spacing(), 5);
    QCOMPARE(f->verticalLayout->spacing(), 6);
    QCOMPARE(f->verticalLayout_3->spacing(), 6);
}

void MainWindowFormTest::sizesPoliciesAndGeometry()
{
    MainWindow window;
    MainWindowForm *f = window.form();
    QCOMPARE(window.size(), QSize(960, 660));
    QCOMPARE(window.minimumSize(), QSize(960, 660));
    QCOMPARE(window.windowModality(), Qt::NonModal);
    const QSizePolicy expanding(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QCOMPARE(window.sizePolicy(), expanding);
    QCOMPARE(f->centralWidget->sizePolicy(), expanding);
    QCOMPARE(f->centralWidget->baseSize(), QSize(1, 1));
    QCOMPARE(f->centralWidget->layoutDirection(), Qt::LeftToRight);
    QCOMPARE(f->groupBox->sizePolicy(), expanding);
    QCOMPARE(f->groupBox->minimumSize(), QSize(700, 600));
    QCOMPARE(f->textEdit->sizePolicy(), expanding);
    QCOMPARE(f->widget->sizePolicy(), QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed));
    QCOMPARE(f->widget->minimumSize(), QSize(0, 50));
    QCOMPARE(f->pushButton_InputMCUCode->minimumSize(), QSize(120, 0));
    QCOMPARE(f->groupBox_POFF->sizePolicy(),
             QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding));
    QCOMPARE(f->groupBox_POFF->minimumSize(), QSize(250, 0));
    QCOMPARE(f->progressBar->value(), 0);
    QCOMPARE(f->progressBar->minimum(), 0);
    QCOMPARE(f->progressBar->maximum(), 100);

    const QVector<QPair<QWidget *, QRect>> placed = {
        {f->checkBox_PwrOFF, {50, 310, 181, 31}},
        {f->label_3, {10, 452, 91, 16}},
        {f->label_4, {10, 482, 111, 16}},
        {f->label_5, {10, 510, 121, 16}},
        {f->gridLayoutWidget, {20, 80, 211, 221}},
        {f->verticalLayoutWidget, {130, 448, 101, 81}},
        {f->comboBox_Device, {10, 20, 231, 22}},
        {f->label, {10, 418, 91, 16}},
        {f->pushButton_RunApp, {10, 570, 209, 23}},
        {f->label_2, {10, 362, 111, 16}},
        {f->label_6, {10, 392, 111, 16}},
        {f->lineEdit_BoardID, {120, 50, 111, 21}},
        {f->label_7, {40, 52, 71, 16}},
        {f->verticalLayoutWidget_2, {130, 360, 101, 81}},
    };
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const auto &item : placed)
        QCOMPARE(item.first->geometry(), item.second);
}

void MainWindowFormTest::fontsAndCursor()
{
    MainWindow window;
    MainWindowForm *f = window.form();
    verifyFont(&window, QString::fromUtf8("微软雅黑"), 8, QFont::Bold);
    verifyFont(f->groupBox, "Arial", 9, QFont::Bold);
    verifyFont(f->textEdit, "Arial", 10, QFont::Bold);
    verifyFont(f->progressBar, "Arial", 9, QFont::Normal);
    const QList<QWidget *> controlFont = {f->pushButton_InputMCUCode,
                                          f->groupBox_POFF,
                                          f->checkBox_PwrOFF,
                                          f->label_3,
                                          f->label_4,
                                          f->label_5,
                                          f->pushButton_UpdateFlash,
                                          f->pushButton_CheckFlash,
                                          f->pushButton_UpdateAPP,
                                          f->pushButton_UpdateBoot,
                                          f->pushButton_Exit,
                                          f->lineEdit_FlashID,
                                          f->lineEdit_FlashSize,
                                          f->lineEdit_FlashName,
                                          f->pushButton_RunApp};
    for (QWidget *w : controlFont)
        verifyFont(w, "Arial", 9, QFont::Bold);
    const QList<QWidget *> inherited = {f->centralWidget,
                                        f->widget,
                                        f->label_MCUCRC,
                                        f->lineEdit_MCU,
                                        f->gridLayoutWidget,
                                        f->pushButton_OpenDevice,
                                        f->pushButton_UpdateTarget,
                                        f->pushButton_VerifyTarget,
                                        f->verticalLayoutWidget,
                                        f->comboBox_Device,
                                        f->label,
                                        f->label_2,
                                        f->label_6,
                                        f->lineEdit_BoardID,
                                        f->label_7,
                                        f->verticalLayoutWidget_2,
                                        f->lineEdit_WrSum,
                                        f->comboBox_SWDSPEED,
                                        f->comboBox_MCUType};
    for (QWidget *w : inherited)
        QVERIFY2(!w->testAttribute(Qt::WA_SetFont), qPrintable(w->objectName()));
    // Inside the control panel the inherited font is the panel's.
    QCOMPARE(f->pushButton_OpenDevice->font().family(), QString("Arial"));
    QCOMPARE(f->label_MCUCRC->font().family(), QString("Arial"));
    QCOMPARE(f->centralWidget->font().family(), QString::fromUtf8("微软雅黑"));

    QVERIFY(window.testAttribute(Qt::WA_SetCursor));
    QCOMPARE(window.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(f->pushButton_OpenDevice->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(f->groupBox->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(f->lineEdit_WrSum->cursor().shape(), Qt::IBeamCursor);

    for (QWidget *w : window.findChildren<QWidget *>()) {
        QVERIFY2(w->toolTip().isEmpty(), qPrintable(w->objectName()));
        QVERIFY2(w->styleSheet().isEmpty(), qPrintable(w->objectName()));
    }
    for (QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        QVERIFY2(button->shortcut().isEmpty(), qPrintable(button->objectName()));
        QVERIFY2(button->icon().isNull(), qPrintable(button->objectName()));
    }
}

void MainWindowFormTest::captionsGoThroughTheTranslator()
{
    {
        MainWindow plain;
        QStringList expected = captions;
        expected[0] = "ZQ_Programmer_V1.20A";
        expected[3] = "Mcu code,CRC = 0x0  Len: 0"; // replaced by the constructor
        QCOMPARE(captionsShown(plain), expected);
    }
    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    MainWindow window;
    QCoreApplication::removeTranslator(&translator);
    MainWindowForm form;
    QMainWindow bare;
    form.buildForm(&bare);
    QStringList formCaptions = translator.requests.mid(0, captions.size());
    QCOMPARE(formCaptions, captions);
    QCOMPARE(translator.requests.value(captions.size()), QString("ZQ_Programmer_V1.20A"));
    QCOMPARE(window.windowTitle(), QString("[ZQ_Programmer_V1.20A]"));
    QCOMPARE(window.form()->groupBox->title(), QString("[Message]"));
    QCOMPARE(window.form()->pushButton_Exit->text(), QString("[Exit]"));
    QCOMPARE(window.form()->lineEdit_WrSum->text(), QString("[100000]"));
    // The form on its own leaves the window's title empty.
    QCOMPARE(bare.windowTitle(), QString());
    QCOMPARE(form.checkBox_PwrOFF->text().split('\n'),
             QStringList({"Stop power supply to ", "the targe PCB after done"}));
}

void MainWindowFormTest::windowKeepsAGivenObjectName()
{
    QMainWindow named;
    named.setObjectName("ownName");
    MainWindowForm form;
    form.buildForm(&named);
    QCOMPARE(named.objectName(), QString("ownName"));
    QCOMPARE(named.centralWidget(), form.centralWidget);
}

void MainWindowFormTest::messageAreaTakesTheRoomWhenTheWindowGrows()
{
    MainWindow window;
    MainWindowForm *f = window.form();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize message = f->groupBox->size();
    const QSize log = f->textEdit->size();
    const int panelWidth = f->groupBox_POFF->width();
    const int codeRowHeight = f->widget->height();
    QVERIFY(codeRowHeight >= 50);
    QVERIFY(panelWidth >= 250);

    window.resize(1200, 800);
    QTRY_COMPARE(f->groupBox->width(), message.width() + 240);
    QCOMPARE(f->groupBox_POFF->width(), panelWidth);
    QCOMPARE(f->textEdit->height(), log.height() + 140);
    QCOMPARE(f->widget->height(), codeRowHeight);

    window.resize(400, 300);
    QTRY_COMPARE(window.size(), QSize(960, 660));
}

void MainWindowFormTest::fieldsThatTheUserCannotEdit()
{
    MainWindow window;
    MainWindowForm *f = window.form();
    for (QLineEdit *field :
         {f->lineEdit_MCU, f->lineEdit_FlashID, f->lineEdit_FlashSize, f->lineEdit_FlashName})
        QVERIFY2(field->isReadOnly(), qPrintable(field->objectName()));
    QVERIFY(!f->lineEdit_BoardID->isReadOnly());
    QVERIFY(!f->lineEdit_WrSum->isReadOnly());
    QVERIFY(!f->textEdit->isReadOnly());

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    f->lineEdit_MCU->setFocus();
    QTest::keyClicks(f->lineEdit_MCU, "abc");
    QCOMPARE(f->lineEdit_MCU->text(), QString());
    f->lineEdit_BoardID->setFocus();
    QTest::keyClicks(f->lineEdit_BoardID, "abc");
    QCOMPARE(f->lineEdit_BoardID->text(), QString("abc"));
}

void MainWindowFormTest::programNumberAcceptsOnlyNumbersWithoutLeadingZero()
{
    MainWindow window;
    QLineEdit *field = window.form()->lineEdit_WrSum;
    const QValidator *validator = field->validator();
    QVERIFY(validator);
    QCOMPARE(validator->parent(), field);
    const auto check = [validator](QString text) {
        int position = text.size();
        return validator->validate(text, position);
    };
    QCOMPARE(check("100000"), QValidator::Acceptable);
    QCOMPARE(check("10"), QValidator::Acceptable);
    QCOMPARE(check("99999999"), QValidator::Acceptable);
    QCOMPARE(check("7"), QValidator::Intermediate);
    QCOMPARE(check("0"), QValidator::Invalid);
    QCOMPARE(check("012"), QValidator::Invalid);
    QCOMPARE(check("12a"), QValidator::Invalid);
    QCOMPARE(check("-12"), QValidator::Invalid);
    QCOMPARE(check(" 12"), QValidator::Invalid);
    QCOMPARE(check("1.5"), QValidator::Invalid);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, "0a12x30");
    QCOMPARE(field->text(), QString("1230"));
}

QTEST_MAIN(MainWindowFormTest)
#include "test_main_window_form.moc"
