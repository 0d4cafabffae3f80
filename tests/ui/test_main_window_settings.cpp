#include "ModalBoxCloser.h"
#include "WindowLog.h"
#include "WorkingDirectory.h"
#include "app/DemoSetup.h"
#include "operations/ProgrammerState.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"

#include <QElapsedTimer>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTextEdit>
#include <QtTest>
#include <memory>
#include <unistd.h>

namespace
{

const QStringList defaultLines = {"UPBOOT:0", "NFLASH:0", "./",      "./",
                                  "BLSET:0",  "WAITT:0",  "PWROFF:1"};

// The file as the system's text mode writes it: one line end after every line.
QByteArray fileWithLines(const QStringList &lines)
{
#ifdef Q_OS_WIN
    const QString end = "\r\n";
#else
    const QString end = "\n";
#endif
    return (lines.join(end) + end).toLocal8Bit();
}

// Lines the window appends while it is destroyed, when its log panel can no longer be read.
class LogRecorder
{
public:
    explicit LogRecorder(MainWindow &window) : textEdit(window.form()->textEdit)
    {
        QObject::connect(textEdit, &QTextEdit::textChanged,
                         [this] { lines = textEdit->toPlainText().split('\n'); });
    }
    QStringList lines;

private:
    QTextEdit *textEdit;
};

} // namespace

class MainWindowSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void missingFileGivesDefaultsAndIsCreatedAtExit();
    void fileWrittenByTheProgramReadsBack();
    void handEditedFileAppliesItsLines_data();
    void handEditedFileAppliesItsLines();
    void shortFileAppliesOnlyTheLinesItHas();
    void unwritableConfigShowsTheBoxAndKeepsTheOldFile();
    void readOnlyFileShowsTheBoxAndKeepsTheOldFile();
    void fifoConfigNeitherBlocksTheWindowNorIsReplaced();
    void theDemosSecondStartKeepsTheWindowsLines();
};

void MainWindowSettingsTest::missingFileGivesDefaultsAndIsCreatedAtExit()
{
    WorkingDirectory directory;
    auto window = std::make_unique<MainWindow>();
    QCOMPARE(logLines(*window), QStringList({"Open config.ini fail"}));
    QCOMPARE(window->state().bootUpdateEnabled, 0);
    QCOMPARE(window->state().mcuCodePath, QString("./"));
    QCOMPARE(window->secondPath, QString("./"));
    QCOMPARE(window->form()->lineEdit_MCU->text(), QString());
    QVERIFY(window->form()->checkBox_PwrOFF->isChecked());
    QVERIFY(!QFile::exists(directory.filePath("config.ini")));

    LogRecorder log(*window);
    window.reset();
    QCOMPARE(log.lines.last(), directory.filePath("config.ini"));
    QCOMPARE(readAll(directory.filePath("config.ini")), fileWithLines(defaultLines));
}

void MainWindowSettingsTest::fileWrittenByTheProgramReadsBack()
{
    WorkingDirectory directory;
    {
        MainWindow first;
        first.state().mcuCodePath = QString("/home/user/my code/code.bin");
        first.secondPath = "/second";
        first.state().bootUpdateEnabled = 1;
        first.form()->checkBox_PwrOFF->setChecked(false);
    }
    const QByteArray written = readAll(directory.filePath("config.ini"));
    QCOMPARE(written, fileWithLines({"UPBOOT:0", "NFLASH:0", QString("/home/user/my code/code.bin"),
                                     "/second", "BLSET:0", "WAITT:0", "PWROFF:0"}));
    {
        MainWindow second;
        QVERIFY(!logLines(second).contains("Open config.ini fail"));
        QCOMPARE(second.state().mcuCodePath, QString("/home/user/my code/code.bin"));
        QCOMPARE(second.form()->lineEdit_MCU->text(), QString("/home/user/my code/code.bin"));
        QCOMPARE(second.secondPath, QString("/second"));
        QCOMPARE(second.state().bootUpdateEnabled, 0);
        QVERIFY(!second.form()->checkBox_PwrOFF->isChecked());
    }
    QCOMPARE(readAll(directory.filePath("config.ini")), written);
}

void MainWindowSettingsTest::handEditedFileAppliesItsLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("bootUpdate");
    QTest::addColumn<bool>("powerOff");
    const QByteArray middle = "NFLASH:0\n  /work/a b.bin \t\n  other  \nBLSET:0\nWAITT:0\n";
    QTest::newRow("upboot inside other text") << "xxUPBOOT:1yy\n" + middle + "PWROFF:0\n"
                                              << 1 << false;
    QTest::newRow("upboot in lower case") << "upboot:1\n" + middle + "PWROFF:1\n" << 0 << true;
    QByteArray crlf = "UPBOOT:1\n" + middle + "PWROFF:0\n";
    crlf.replace("\n", "\r\n");
    QTest::newRow("CR LF line ends") << crlf << 1 << false;
    QTest::newRow("pwroff only on the eighth line")
        << "UPBOOT:0\n" + middle + "PWROFF:0\nPWROFF:1\n"
        << 0 << false;
    QTest::newRow("pwroff on another line") << "PWROFF:1\n" + middle + "X\n" << 0 << false;
}

void MainWindowSettingsTest::handEditedFileAppliesItsLines()
{
    QFETCH(QByteArray, content);
    QFETCH(int, bootUpdate);
    QFETCH(bool, powerOff);
    WorkingDirectory directory;
    QVERIFY(writeAll(directory.filePath("config.ini"), content));
    {
        MainWindow window;
        QCOMPARE(window.state().bootUpdateEnabled, bootUpdate);
        QCOMPARE(window.state().mcuCodePath, QString("/work/a b.bin"));
        QCOMPARE(window.form()->lineEdit_MCU->text(), QString("  /work/a b.bin \t"));
        QCOMPARE(window.secondPath, QString("other"));
        QCOMPARE(window.form()->checkBox_PwrOFF->isChecked(), powerOff);
        QVERIFY(!logLines(window).contains("Open config.ini fail"));
    }
    // Lines 1, 2, 5 and 6 always go back with their fixed values: UPBOOT:1 lasts one run.
    QCOMPARE(readAll(directory.filePath("config.ini")),
             fileWithLines({"UPBOOT:0", "NFLASH:0", "/work/a b.bin", "other", "BLSET:0", "WAITT:0",
                            powerOff ? "PWROFF:1" : "PWROFF:0"}));
}

void MainWindowSettingsTest::shortFileAppliesOnlyTheLinesItHas()
{
    WorkingDirectory directory;
    QVERIFY(writeAll(directory.filePath("config.ini"), "UPBOOT:1\nNFLASH:0\n\n"));
    {
        MainWindow window;
        QCOMPARE(window.state().bootUpdateEnabled, 1);
        QCOMPARE(window.state().mcuCodePath, QString());
        QCOMPARE(window.secondPath, QString("./"));
        QVERIFY(window.form()->checkBox_PwrOFF->isChecked());
    }
    QCOMPARE(readAll(directory.filePath("config.ini")),
             fileWithLines({"UPBOOT:0", "NFLASH:0", "", "./", "BLSET:0", "WAITT:0", "PWROFF:1"}));
}

// A folder in place of the file can be written by nobody, not even the superuser.
void MainWindowSettingsTest::unwritableConfigShowsTheBoxAndKeepsTheOldFile()
{
    WorkingDirectory directory;
    QVERIFY(QDir(directory.path()).mkdir("config.ini"));
    auto window = std::make_unique<MainWindow>();
    QCOMPARE(logLines(*window), QStringList({"Open config.ini fail"}));
    LogRecorder log(*window);
    ModalBoxCloser closer;
    window.reset();
    QCOMPARE(closer.boxes().size(), 1);
    QCOMPARE(closer.boxes()[0].title, QString("Message"));
    QCOMPARE(closer.boxes()[0].text, QString::fromUtf8("打开文件失败"));
    QCOMPARE(closer.boxes()[0].icon, QMessageBox::Critical);
    QCOMPARE(log.lines.last(), directory.filePath("config.ini"));
    QVERIFY(QFileInfo(directory.filePath("config.ini")).isDir());
}

// A FIFO with no writer once kept the window from ever appearing.
void MainWindowSettingsTest::fifoConfigNeitherBlocksTheWindowNorIsReplaced()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs are the Unix side's");
#else
    WorkingDirectory directory;
    const QString path = directory.filePath("config.ini");
    QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    QElapsedTimer clock;
    clock.start();
    auto window = std::make_unique<MainWindow>();
    QCOMPARE(logLines(*window), QStringList({"Open config.ini fail"}));
    ModalBoxCloser closer;
    window.reset();
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(closer.boxes().size(), 1);
    QCOMPARE(closer.boxes()[0].text, QString::fromUtf8("打开文件失败"));
    QVERIFY(QFileInfo::exists(path) && !QFileInfo(path).isFile());
#endif
}

// The demo allows the boot update at every start, over the file its window wrote the last time
// (on Windows that old file was once still open when the new one was to replace it).
void MainWindowSettingsTest::theDemosSecondStartKeepsTheWindowsLines()
{
    WorkingDirectory directory;
    QString error;
    QVERIFY2(zq::demo::prepareWorkFolder(directory.path(), &error), qPrintable(error));
    MainWindow().state().mcuCodePath = "mine.bin"; // written as the window goes
    QVERIFY2(zq::demo::prepareWorkFolder(directory.path(), &error), qPrintable(error));
    QStringList lines = defaultLines;
    lines[0] = "UPBOOT:1";
    lines[2] = "mine.bin";
    QCOMPARE(readAll(directory.filePath("config.ini")), fileWithLines(lines));
}

void MainWindowSettingsTest::readOnlyFileShowsTheBoxAndKeepsTheOldFile()
{
#ifdef Q_OS_UNIX
    // Run as an unprivileged user by ctest when the suite runs as root (tests/ui/CMakeLists.txt).
    if (geteuid() == 0) {
        if (qEnvironmentVariableIsSet("ZQ_EXPECT_UNPRIVILEGED"))
            QFAIL("meant to run as an unprivileged user, but runs as root");
        QSKIP("the superuser writes read-only files; the unprivileged run covers this");
    }
#endif
    WorkingDirectory directory;
    const QString path = directory.filePath("config.ini");
    const QByteArray old = "UPBOOT:0\nNFLASH:0\n/old.bin\n./\nBLSET:0\nWAITT:0\nPWROFF:1\n";
    QVERIFY(writeAll(path, old));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser));
    auto window = std::make_unique<MainWindow>();
    window->state().mcuCodePath = "/new.bin";
    ModalBoxCloser closer;
    window.reset();
    QCOMPARE(closer.boxes().size(), 1);
    QCOMPARE(closer.boxes()[0].text, QString::fromUtf8("打开文件失败"));
    QCOMPARE(readAll(path), old);
}

QTEST_MAIN(MainWindowSettingsTest)
#include "test_main_window_settings.moc"
