#include "WorkingDirectory.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
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

// The font a widget sets for itself; Inherited: none of its own.
enum class Font { Inherited, Window, Control, Log, Progress };

// One object of the form, in creation order (which is also the focus order). caption: the text
// the form gives it through the translator (nullptr: none).
struct Item {
    const char *name;
    const char *className;
    const char *parent;
    const char *caption;
    Font font;
};

const QVector<Item> form = {
    {"centralWidget", "QWidget", "MainWindow", nullptr, Font::Inherited},
    {"gridLayout", "QGridLayout", "centralWidget", nullptr, Font::Inherited},
    {"groupBox", "QGroupBox", "centralWidget", "Message", Font::Control},
    {"gridLayout_2", "QGridLayout", "groupBox", nullptr, Font::Inherited},
    {"textEdit", "QTextEdit", "groupBox", nullptr, Font::Log},
    {"progressBar", "QProgressBar", "groupBox", nullptr, Font::Progress},
    {"widget", "QWidget", "groupBox", nullptr, Font::Inherited},
    {"gridLayout_4", "QGridLayout", "widget", nullptr, Font::Inherited},
    {"pushButton_InputMCUCode", "QPushButton", "widget", "Input File", Font::Control},
    {"label_MCUCRC", "QLabel", "widget", "00000000", Font::Inherited},
    {"lineEdit_MCU", "QLineEdit", "widget", nullptr, Font::Inherited},
    {"groupBox_POFF", "QGroupBox", "centralWidget", "Control", Font::Control},
    {"checkBox_PwrOFF", "QCheckBox", "groupBox_POFF",
     "Stop power supply to \nthe targe PCB after done", Font::Control},
    {"label_3", "QLabel", "groupBox_POFF",
     "<html><head/><body><p>Board Flash ID: </p></body></html>", Font::Control},
    {"label_4", "QLabel", "groupBox_POFF",
     "<html><head/><body><p>Board Flash Size: </p></body></html>", Font::Control},
    {"label_5", "QLabel", "groupBox_POFF",
     "<html><head/><body><p>Board Flash Name: </p></body></html>", Font::Control},
    {"gridLayoutWidget", "QWidget", "groupBox_POFF", nullptr, Font::Inherited},
    {"verticalLayout_2", "QVBoxLayout", "gridLayoutWidget", nullptr, Font::Inherited},
    {"pushButton_OpenDevice", "QPushButton", "gridLayoutWidget", "Open programmer",
     Font::Inherited},
    {"pushButton_UpdateTarget", "QPushButton", "gridLayoutWidget", "Program", Font::Inherited},
    {"pushButton_VerifyTarget", "QPushButton", "gridLayoutWidget", "Verify", Font::Inherited},
    {"pushButton_UpdateFlash", "QPushButton", "gridLayoutWidget", "Download to programmer",
     Font::Control},
    {"pushButton_CheckFlash", "QPushButton", "gridLayoutWidget", "Check SpiFlash CRC",
     Font::Control},
    {"pushButton_UpdateAPP", "QPushButton", "gridLayoutWidget", "Firmware update", Font::Control},
    {"pushButton_UpdateBoot", "QPushButton", "gridLayoutWidget", "Boot update", Font::Control},
    {"pushButton_Exit", "QPushButton", "gridLayoutWidget", "Exit", Font::Control},
    {"verticalLayoutWidget", "QWidget", "groupBox_POFF", nullptr, Font::Inherited},
    {"verticalLayout", "QVBoxLayout", "verticalLayoutWidget", nullptr, Font::Inherited},
    {"lineEdit_FlashID", "QLineEdit", "verticalLayoutWidget", nullptr, Font::Control},
    {"lineEdit_FlashSize", "QLineEdit", "verticalLayoutWidget", nullptr, Font::Control},
    {"lineEdit_FlashName", "QLineEdit", "verticalLayoutWidget", nullptr, Font::Control},
    {"comboBox_Device", "QComboBox", "groupBox_POFF", nullptr, Font::Inherited},
    {"label", "QLabel", "groupBox_POFF", "Target Name:", Font::Inherited},
    {"pushButton_RunApp", "QPushButton", "groupBox_POFF", "Run Uart Application", Font::Control},
    {"label_2", "QLabel", "groupBox_POFF", "Program Number:", Font::Inherited},
    {"label_6", "QLabel", "groupBox_POFF", "Program Speed:", Font::Inherited},
    {"lineEdit_BoardID", "QLineEdit", "groupBox_POFF", nullptr, Font::Inherited},
    {"label_7", "QLabel", "groupBox_POFF", "Board ID:", Font::Inherited},
    {"verticalLayoutWidget_2", "QWidget", "groupBox_POFF", nullptr, Font::Inherited},
    {"verticalLayout_3", "QVBoxLayout", "verticalLayoutWidget_2", nullptr, Font::Inherited},
    {"lineEdit_WrSum", "QLineEdit", "verticalLayoutWidget_2", "100000", Font::Inherited},
    {"comboBox_SWDSPEED", "QComboBox", "verticalLayoutWidget_2", nullptr, Font::Inherited},
    {"comboBox_MCUType", "QComboBox", "verticalLayoutWidget_2", nullptr, Font::Inherited},
};

// Where the control panel's hand-placed widgets go; a layout places every other one.
const QMap<QString, QRect> placed = {
    {"checkBox_PwrOFF", {50, 310, 181, 31}},
    {"label_3", {10, 452, 91, 16}},
    {"label_4", {10, 482, 111, 16}},
    {"label_5", {10, 510, 121, 16}},
    {"gridLayoutWidget", {20, 80, 211, 221}},
    {"verticalLayoutWidget", {130, 448, 101, 81}},
    {"comboBox_Device", {10, 20, 231, 22}},
    {"label", {10, 418, 91, 16}},
    {"pushButton_RunApp", {10, 570, 209, 23}},
    {"label_2", {10, 362, 111, 16}},
    {"label_6", {10, 392, 111, 16}},
    {"lineEdit_BoardID", {120, 50, 111, 21}},
    {"label_7", {40, 52, 71, 16}},
    {"verticalLayoutWidget_2", {130, 360, 101, 81}},
};

// The captions in the order the form sets them: the window's title (empty) first.
QStringList formCaptions()
{
    QStringList captions = {QString()};
    for (const Item &item : form)
        if (item.caption)
            captions.append(QString::fromUtf8(item.caption));
    return captions;
}

struct FontFace {
    QString family;
    int pointSize;
    int weight;
};

FontFace faceOf(Font font)
{
    switch (font) {
    case Font::Window:
        return {QString::fromUtf8("微软雅黑"), 8, QFont::Bold};
    case Font::Log:
        return {"Arial", 10, QFont::Bold};
    case Font::Progress:
        return {"Arial", 9, QFont::Normal};
    default:
        return {"Arial", 9, QFont::Bold};
    }
}

void verifyFont(QWidget *widget, Font font)
{
    const QString name = widget->objectName();
    QVERIFY2(widget->testAttribute(Qt::WA_SetFont), qPrintable(name));
    const FontFace face = faceOf(font);
    QCOMPARE(widget->font().family(), face.family);
    QCOMPARE(widget->font().pointSize(), face.pointSize);
    QCOMPARE(widget->font().weight(), face.weight);
}

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

QString captionOf(QObject *object)
{
    if (auto *box = qobject_cast<QGroupBox *>(object))
        return box->title();
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        return button->text();
    if (auto *label = qobject_cast<QLabel *>(object))
        return label->text();
    if (auto *field = qobject_cast<QLineEdit *>(object))
        return field->text();
    return QString();
}

QStringList captionsShown(const MainWindow &window)
{
    QStringList shown = {window.windowTitle()};
    for (const Item &item : form)
        if (item.caption)
            shown.append(captionOf(window.findChild<QObject *>(item.name)));
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
}

} // namespace

class MainWindowFormTest : public QObject
{
    Q_OBJECT

private slots:
    void everyObjectWithItsClassParentFontAndPlace();
    void creationOrderIsTheFocusOrder();
    void layoutsPlaceTheWidgets();
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

void MainWindowFormTest::everyObjectWithItsClassParentFontAndPlace()
{
    MainWindow window;
    QCOMPARE(window.objectName(), QString("MainWindow"));
    QCOMPARE(window.centralWidget(), window.form()->centralWidget);
    QCOMPARE(window.size(), QSize(960, 660));
    QCOMPARE(window.minimumSize(), QSize(960, 660));
    verifyFont(&window, Font::Window);
    QCOMPARE(window.cursor().shape(), Qt::PointingHandCursor);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    int placedSeen = 0;
    for (const Item &item : form) {
        auto *object = window.findChild<QObject *>(item.name);
        QVERIFY2(object, item.name);
        QCOMPARE(object->metaObject()->className(), item.className);
        QCOMPARE(object->parent()->objectName(), QString(item.parent));
        QCOMPARE(window.findChildren<QObject *>(item.name).size(), 1);
        auto *widget = qobject_cast<QWidget *>(object);
        if (!widget)
            continue;
        if (item.font == Font::Inherited)
            QVERIFY2(!widget->testAttribute(Qt::WA_SetFont), item.name);
        else
            verifyFont(widget, item.font);
        if (placed.contains(item.name)) {
            ++placedSeen;
            QCOMPARE(widget->geometry(), placed.value(item.name));
        }
    }
    QCOMPARE(placedSeen, placed.size());
    // A slot named on_pushButton_clicked has no button: nothing may be called pushButton.
    QVERIFY(!window.findChild<QObject *>("pushButton"));
    QVERIFY(!window.menuWidget());
    QVERIFY(!window.findChild<QStatusBar *>());
    QVERIFY(!window.findChild<QToolBar *>());
    // Inside the control panel the inherited font is the panel's.
    QCOMPARE(window.form()->pushButton_OpenDevice->font().family(), QString("Arial"));
    QCOMPARE(window.form()->centralWidget->font().family(), QString::fromUtf8("微软雅黑"));
}

void MainWindowFormTest::creationOrderIsTheFocusOrder()
{
    MainWindow window;
    QStringList expected;
    for (const Item &item : form)
        if (!QByteArray(item.className).contains("Layout"))
            expected.append(item.name);
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
    verifyGridCell(f->gridLayout, f->groupBox, 0, 0);
    verifyGridCell(f->gridLayout, f->groupBox_POFF, 0, 1);
    QCOMPARE(f->groupBox->layout(), f->gridLayout_2);
    verifyGridCell(f->gridLayout_2, f->widget, 0, 0);
    verifyGridCell(f->gridLayout_2, f->textEdit, 1, 0);
    verifyGridCell(f->gridLayout_2, f->progressBar, 2, 0);
    QCOMPARE(f->widget->layout(), f->gridLayout_4);
    verifyGridCell(f->gridLayout_4, f->label_MCUCRC, 0, 0);
    verifyGridCell(f->gridLayout_4, f->lineEdit_MCU, 1, 0);
    verifyGridCell(f->gridLayout_4, f->pushButton_InputMCUCode, 1, 1);

    // The three columns of the control panel, top to bottom.
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
    }
    QCOMPARE(f->progressBar->value(), 0);
    QCOMPARE(f->progressBar->maximum(), 100);
}

void MainWindowFormTest::captionsGoThroughTheTranslator()
{
    const QStringList captions = formCaptions();
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
    MainWindowForm bareForm;
    QMainWindow bare;
    bareForm.buildForm(&bare);
    QCOMPARE(translator.requests.mid(0, captions.size()), captions);
    QCOMPARE(translator.requests.value(captions.size()), QString("ZQ_Programmer_V1.20A"));
    QCOMPARE(window.windowTitle(), QString("[ZQ_Programmer_V1.20A]"));
    QCOMPARE(window.form()->groupBox->title(), QString("[Message]"));
    QCOMPARE(window.form()->pushButton_Exit->text(), QString("[Exit]"));
    QCOMPARE(window.form()->lineEdit_WrSum->text(), QString("[100000]"));
    // The form on its own leaves the window's title empty.
    QCOMPARE(bare.windowTitle(), QString());
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
    const auto check = [validator](QString text) {
        int position = text.size();
        return validator->validate(text, position);
    };
    const QVector<QPair<QString, QValidator::State>> cases = {
        {"100000", QValidator::Acceptable},   {"10", QValidator::Acceptable},
        {"99999999", QValidator::Acceptable}, {"7", QValidator::Intermediate},
        {"0", QValidator::Invalid},           {"012", QValidator::Invalid},
        {"12a", QValidator::Invalid},         {"-12", QValidator::Invalid},
        {" 12", QValidator::Invalid},         {"1.5", QValidator::Invalid},
    };
    for (const auto &c : cases)
        QVERIFY2(check(c.first) == c.second, qPrintable(c.first));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, "0a12x30");
    QCOMPARE(field->text(), QString("1230"));
}

QTEST_MAIN(MainWindowFormTest)
#include "test_main_window_form.moc"
