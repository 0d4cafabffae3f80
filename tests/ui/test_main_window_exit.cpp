#include "TestFiles.h"
#include "WorkingDirectory.h"
#include "operations/ProgrammerState.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QtTest>
#include <memory>

namespace
{

// Notes when the window receives its close request, measured from the start of the test.
class CloseWatcher : public QObject
{
public:
    explicit CloseWatcher(QWidget *window) { window->installEventFilter(this); }
    qint64 closedAfter = -1;
    QElapsedTimer clock;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close && closedAfter < 0)
            closedAfter = clock.elapsed();
        return false;
    }
};

// Runs the application's event loop as main does, with a backstop that ends it after 10 s.
int runEventLoop(bool *timedOut)
{
    QTimer backstop;
    backstop.setSingleShot(true);
    QObject::connect(&backstop, &QTimer::timeout, [timedOut] {
        *timedOut = true;
        QCoreApplication::exit(99);
    });
    backstop.start(10000);
    return QApplication::exec();
}

} // namespace

class MainWindowExitTest : public QObject
{
    Q_OBJECT

private slots:
    void exitPausesHalfASecondThenCloses();
    void exitEndsTheEventLoopAndTheWindowWritesTheSettings();
    void closeRequestEndsTheEventLoop();
};

void MainWindowExitTest::exitPausesHalfASecondThenCloses()
{
    WorkingDirectory directory;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    CloseWatcher watcher(&window);
    watcher.clock.start();
    QTest::mouseClick(window.form()->pushButton_Exit, Qt::LeftButton);
    QVERIFY2(watcher.closedAfter >= 500, qPrintable(QString::number(watcher.closedAfter)));
    QVERIFY2(watcher.closedAfter < 5000, qPrintable(QString::number(watcher.closedAfter)));
    QVERIFY(!window.isVisible());
}

void MainWindowExitTest::exitEndsTheEventLoopAndTheWindowWritesTheSettings()
{
    WorkingDirectory directory;
    auto window = std::make_unique<MainWindow>();
    window->show();
    QPushButton *exitButton = window->form()->pushButton_Exit;
    QTimer::singleShot(0, exitButton, [exitButton] { exitButton->click(); });
    bool timedOut = false;
    QCOMPARE(runEventLoop(&timedOut), 0);
    QVERIFY(!timedOut);
    // The settings are written when the window goes, not when it closes.
    QVERIFY(!QFile::exists(directory.filePath("config.ini")));
    window.reset();
    QCOMPARE(readAll(directory.filePath("config.ini")).count('\n'), 7);
}

void MainWindowExitTest::closeRequestEndsTheEventLoop()
{
    WorkingDirectory directory;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    CloseWatcher watcher(&window);
    watcher.clock.start();
    QTimer::singleShot(0, &window, [&window] { window.close(); });
    bool timedOut = false;
    QCOMPARE(runEventLoop(&timedOut), 0);
    QVERIFY(!timedOut);
    QVERIFY(watcher.closedAfter >= 0);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(MainWindowExitTest)
#include "test_main_window_exit.moc"
