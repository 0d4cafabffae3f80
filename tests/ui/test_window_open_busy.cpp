// Presses and close requests that reach the window while an open is still waiting for the
// programmer's reply: they must not start a second operation in the middle of the first.

#include "EmulatedWindow.h"
#include "operations/ProgrammerState.h"

#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "emulator/Faults.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using zq::emu::Board;
using zq::emu::EmulatedBus;
using zq::emu::Fault;

namespace
{

// A board whose connect reply takes 400 ms, where the window gives it about a second.
void plugSlowBoard()
{
    auto board = std::make_shared<Board>();
    board->faults().arm(Fault::latency(400).onCommand('K'));
    EmulatedBus::instance().plug(board);
}

} // namespace

class WindowOpenBusyTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { EmulatedBus::instance().unplugAll(); }
    void pressesDuringASlowConnectAreIgnored();
    void closeRequestDuringASlowConnectWaitsForItsEnd();
};

void WindowOpenBusyTest::pressesDuringASlowConnectAreIgnored()
{
    EmulatedWindow rig;
    plugSlowBoard();
    MainWindow &window = rig.start();
    int filesChosen = 0;
    window.setFileChooser([&filesChosen](const QString &, const QString &, const QString &) {
        ++filesChosen;
        return QString();
    });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    rig.waitForList(1);

    bool busyDuringPresses = false;
    QStringList logAfterPresses;
    QTimer::singleShot(100, &window, [&] {
        busyDuringPresses = window.operationRunning();
        window.form()->pushButton_OpenDevice->click();
        window.form()->pushButton_InputMCUCode->click();
        window.form()->pushButton_Exit->click();
        logAfterPresses = logLines(window);
    });
    window.form()->pushButton_OpenDevice->click();

    QVERIFY(busyDuringPresses);
    QCOMPARE(logAfterPresses, QStringList{"Open the programmer ok..."});
    QCOMPARE(logLines(window), kSuccessfulOpen);
    QCOMPARE(filesChosen, 0);
    QVERIFY(rig.boxes.boxes().isEmpty());
    QVERIFY(!window.operationRunning());
    // Exit was dropped, not put off: the window stays.
    QTest::qWait(1000);
    QVERIFY(window.isVisible());
    QCOMPARE(logLines(window), kSuccessfulOpen);

    // Idle again, the buttons work.
    window.form()->pushButton_InputMCUCode->click();
    QCOMPARE(filesChosen, 1);
}

void WindowOpenBusyTest::closeRequestDuringASlowConnectWaitsForItsEnd()
{
    EmulatedWindow rig;
    plugSlowBoard();
    MainWindow &window = rig.start();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    rig.waitForList(1);

    bool visibleAfterCloseRequest = false;
    bool busyAtCloseRequest = false;
    QTimer::singleShot(100, &window, [&] {
        busyAtCloseRequest = window.operationRunning();
        window.close();
        visibleAfterCloseRequest = window.isVisible();
    });
    // The window may cut the open's waits short to go sooner, but it stays until the open has
    // written its last line.
    QList<bool> visibleAtLogLines;
    QObject watching;
    QObject::connect(window.form()->textEdit, &QTextEdit::textChanged, &watching,
                     [&] { visibleAtLogLines.append(window.isVisible()); });
    window.form()->pushButton_OpenDevice->click();

    QVERIFY(busyAtCloseRequest);
    QVERIFY(visibleAfterCloseRequest);
    const QStringList log = logLines(window);
    QVERIFY(log.size() >= 2);
    QCOMPARE(log.first(), QString("Open the programmer ok..."));
    QVERIFY(log.last() == "Connect the programmer successful" ||
            log.last() == "Fail to connect the programmer...");
    QCOMPARE(visibleAtLogLines.size(), log.size());
    QVERIFY(!visibleAtLogLines.contains(false));
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    QVERIFY(!window.operationRunning());
    QVERIFY(rig.boxes.boxes().isEmpty());
}

QTEST_MAIN(WindowOpenBusyTest)
#include "test_window_open_busy.moc"
