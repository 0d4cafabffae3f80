// Finding programmers and following plug and unplug, seen through the window over the emulated
// bus: the first search a second after start, the list in plug order, the log lines of every
// arrival and removal, and what the removal of the open programmer does to the device and worker.

#include "EmulatedWindow.h"
#include "TestImages.h"
#include "operations/ProgrammerState.h"

#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "emulator/Faults.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using zq::emu::Board;
using zq::emu::BoardMode;
using zq::emu::EmulatedBus;
using zq::emu::Fault;
using zq::emu::FaultKind;

namespace
{

QStringList listed(const MainWindow &window)
{
    QStringList items;
    const QComboBox *box = window.form()->comboBox_Device;
    for (int i = 0; i < box->count(); ++i)
        items.append(box->itemText(i));
    return items;
}

// The four buttons a removal of the open programmer disables, then the two it leaves alone.
QList<bool> buttonStates(const MainWindow &window)
{
    const zq::MainWindowForm *f = window.form();
    return {f->pushButton_UpdateTarget->isEnabled(), f->pushButton_VerifyTarget->isEnabled(),
            f->pushButton_UpdateFlash->isEnabled(),  f->pushButton_CheckFlash->isEnabled(),
            f->pushButton_UpdateAPP->isEnabled(),    f->pushButton_UpdateBoot->isEnabled()};
}

// When each search ran, in ms from the recorder's start.
class SearchRecorder
{
public:
    explicit SearchRecorder(const MainWindow &window)
    {
        clock.start();
        QObject::connect(&window.deviceSearchTimer(), &QTimer::timeout, &context,
                         [this] { searches.append(clock.elapsed()); });
    }
    QElapsedTimer clock;
    QList<qint64> searches;
    QObject context; // ends the connection with the recorder
};

void waitForFirstSearch(const MainWindow &window)
{
    QTRY_VERIFY_WITH_TIMEOUT(!window.deviceSearchTimer().isActive(), 5000);
}

} // namespace

class WindowDevicesTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void firstSearchComesAboutASecondAfterStart_data();
    void firstSearchComesAboutASecondAfterStart();
    void plugIsLoggedAndListed100msLater();
    void burstOfPlugsGivesOneSearch();
    void unplugOfAnotherBoardLeavesTheOpenOneOpen();
    void unplugOfTheOpenBoardClosesItBeforeTheLogLine();
    void unplugDuringConnectEndsTheConnect();
    void chosenBoardStaysChosenWhenTheListIsRefilled();
    void updatedBoardStaysChosenUnderItsPath();
};

void WindowDevicesTest::firstSearchComesAboutASecondAfterStart_data()
{
    QTest::addColumn<int>("boards");
    QTest::newRow("no programmer") << 0;
    QTest::newRow("two programmers") << 2;
}

void WindowDevicesTest::firstSearchComesAboutASecondAfterStart()
{
    QFETCH(int, boards);
    EmulatedWindow rig;
    QStringList plugged;
    for (int i = 0; i < boards; ++i)
        plugged.append(EmulatedBus::instance().plug(std::make_shared<Board>()));

    MainWindow &window = rig.start();
    SearchRecorder recorder(window);
    // Nothing before 900 ms; the list is only ever filled by the search.
    while (recorder.clock.elapsed() < 900) {
        QCOMPARE(window.form()->comboBox_Device->count(), 0);
        QCOMPARE(recorder.searches.size(), 0);
        QTest::qWait(10);
    }
    QTRY_COMPARE_WITH_TIMEOUT(recorder.searches.size(), 1, 5000);
    QVERIFY(recorder.searches.first() >= 900);

    QCOMPARE(listed(window), plugged);
    QCOMPARE(window.devicePaths, plugged);
    QCOMPARE(window.form()->comboBox_Device->currentIndex(), boards > 0 ? 0 : -1);
    QCOMPARE(logLines(window), QStringList());
    // One start of the timer, one search.
    QTest::qWait(1200);
    QCOMPARE(recorder.searches.size(), 1);
    QVERIFY(rig.boxes.boxes().isEmpty());
}

void WindowDevicesTest::plugIsLoggedAndListed100msLater()
{
    EmulatedWindow rig;
    MainWindow &window = rig.start();
    waitForFirstSearch(window);
    SearchRecorder recorder(window);
    qint64 insertLoggedAt = -1;
    QObject::connect(window.form()->textEdit, &QTextEdit::textChanged, &recorder.context,
                     [&] { insertLoggedAt = recorder.clock.elapsed(); });

    const QString path = EmulatedBus::instance().plug(std::make_shared<Board>());
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList{path}, 5000);

    QCOMPARE(logLines(window), QStringList{"device insert:" + path.toUpper()});
    QCOMPARE(recorder.searches.size(), 1);
    QVERIFY(insertLoggedAt >= 0);
    QVERIFY(recorder.searches.first() - insertLoggedAt >= 90);
    QCOMPARE(window.form()->comboBox_Device->currentIndex(), 0);
    QVERIFY(rig.boxes.boxes().isEmpty());
}

void WindowDevicesTest::burstOfPlugsGivesOneSearch()
{
    EmulatedWindow rig;
    MainWindow &window = rig.start();
    waitForFirstSearch(window);
    SearchRecorder recorder(window);

    const QString first = EmulatedBus::instance().plug(std::make_shared<Board>());
    const QString second = EmulatedBus::instance().plug(std::make_shared<Board>());
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), (QStringList{first, second}), 5000);
    QTest::qWait(500);
    QCOMPARE(recorder.searches.size(), 1);
    QCOMPARE(logLines(window), (QStringList{"device insert:" + first.toUpper(),
                                            "device insert:" + second.toUpper()}));
    QVERIFY(rig.boxes.boxes().isEmpty());
}

void WindowDevicesTest::unplugOfAnotherBoardLeavesTheOpenOneOpen()
{
    EmulatedWindow rig;
    const QString open = EmulatedBus::instance().plug(std::make_shared<Board>());
    const QString other = EmulatedBus::instance().plug(std::make_shared<Board>());
    MainWindow &window = rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), (QStringList{open, other}), 5000);
    window.form()->pushButton_OpenDevice->click();
    QCOMPARE(logLines(window).last(), QString("Connect the programmer successful"));
    const QList<bool> buttonsBefore = buttonStates(window);
    const int linesBefore = logLines(window).size();

    EmulatedBus::instance().unplug(other);
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList{open}, 5000);

    QCOMPARE(logLines(window).mid(linesBefore), QStringList{"device remove:" + other.toUpper()});
    QVERIFY(window.device().isOpen());
    QCOMPARE(window.device().devicePath(), open);
    QVERIFY(window.worker().isRunning());
    QCOMPARE(buttonStates(window), buttonsBefore);
    QVERIFY(rig.boxes.boxes().isEmpty());
}

void WindowDevicesTest::unplugOfTheOpenBoardClosesItBeforeTheLogLine()
{
    EmulatedWindow rig;
    const QString path = EmulatedBus::instance().plug(std::make_shared<Board>());
    MainWindow &window = rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList{path}, 5000);
    window.form()->pushButton_OpenDevice->click();
    QCOMPARE(buttonStates(window), (QList<bool>{true, true, true, true, false, true}));
    const int linesBefore = logLines(window).size();

    // What the window looked like when it wrote the removal line.
    bool openAtLogLine = true;
    bool runningAtLogLine = true;
    QList<bool> buttonsAtLogLine;
    QObject watching; // the window logs again as it goes, when these are gone
    QObject::connect(window.form()->textEdit, &QTextEdit::textChanged, &watching, [&] {
        openAtLogLine = window.device().isOpen();
        runningAtLogLine = window.worker().isRunning();
        buttonsAtLogLine = buttonStates(window);
    });

    EmulatedBus::instance().unplug(path);
    QTRY_COMPARE_WITH_TIMEOUT(logLines(window).mid(linesBefore),
                              QStringList{"device remove:" + path.toUpper()}, 5000);
    QVERIFY(!openAtLogLine);
    QVERIFY(!runningAtLogLine);
    // The four target and flash buttons go; Firmware and Boot update keep their state.
    QCOMPARE(buttonsAtLogLine, (QList<bool>{false, false, false, false, false, true}));
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList(), 5000);
    QCOMPARE(window.device().devicePath(), path);
    // The identity of the last connect stays.
    QCOMPARE(window.state().connectionMode, zq::protocol::ConnectionMode::NormalWork);
    QCOMPARE(window.state().boardId, 0x00012345u);
    QVERIFY(rig.boxes.boxes().isEmpty());
}

void WindowDevicesTest::unplugDuringConnectEndsTheConnect()
{
    EmulatedWindow rig;
    auto board = std::make_shared<Board>();
    board->faults().arm(Fault::next(FaultKind::NoReply).onCommand('K'));
    const QString path = EmulatedBus::instance().plug(board);
    MainWindow &window = rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList{path}, 5000);

    // The board is pulled while the window waits for its connect reply.
    QTimer::singleShot(200, [path] { EmulatedBus::instance().unplug(path); });
    window.form()->pushButton_OpenDevice->click();

    QCOMPARE(logLines(window),
             (QStringList{"Open the programmer ok...", "device remove:" + path.toUpper(),
                          "Fail to connect the programmer..."}));
    QVERIFY(!window.device().isOpen());
    QVERIFY(!window.worker().isRunning());
    QCOMPARE(window.state().connectionMode, zq::protocol::ConnectionMode::UpdateMcuCode);
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList(), 5000);
    QVERIFY(rig.boxes.boxes().isEmpty());
}

// Two boards, the second chosen; a third plugged in and then the first pulled: each refill keeps
// the second chosen. Once it is gone, the list starts at its first entry again.
void WindowDevicesTest::chosenBoardStaysChosenWhenTheListIsRefilled()
{
    EmulatedWindow rig;
    EmulatedBus &bus = EmulatedBus::instance();
    const QString first = bus.plug(std::make_shared<Board>());
    const QString second = bus.plug(std::make_shared<Board>());
    MainWindow &window = rig.start();
    QComboBox *box = window.form()->comboBox_Device;
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), (QStringList{first, second}), 5000);
    box->setCurrentIndex(1);

    const QString third = bus.plug(std::make_shared<Board>());
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), (QStringList{first, second, third}), 5000);
    QCOMPARE(box->currentText(), second);
    bus.unplug(first);
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), (QStringList{second, third}), 5000);
    QCOMPARE(box->currentText(), second);
    bus.unplug(second);
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList{third}, 5000);
    QCOMPARE(box->currentIndex(), 0);
    QVERIFY(rig.boxes.boxes().isEmpty());
}

// Two boards, the first chosen and opened, then its boot loader replaced: the board restarts
// into its other program, comes back under the path it had, and is still the one chosen.
void WindowDevicesTest::updatedBoardStaysChosenUnderItsPath()
{
    EmulatedWindow rig;
    const QString image = rig.directory.filePath("Bootware/new.boot");
    QVERIFY(QDir().mkpath(rig.directory.filePath("Bootware")));
    QVERIFY(writeAll(image, programmerImage(20480, 0x20260101, 0x32F10300)));
    EmulatedBus &bus = EmulatedBus::instance();
    auto updated = std::make_shared<Board>();
    const QString first = bus.plug(updated);
    const QString second = bus.plug(std::make_shared<Board>());
    MainWindow &window = rig.start();
    QComboBox *box = window.form()->comboBox_Device;
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), (QStringList{first, second}), 5000);
    rig.pressOpen();
    QCOMPARE(window.device().devicePath(), first);

    window.setFileChooser([&](const QString &, const QString &, const QString &) { return image; });
    window.form()->pushButton_UpdateBoot->click();
    QCOMPARE(logLines(window).last(), QString("Update MCU is OK!!!!!!"));
    QTRY_VERIFY_WITH_TIMEOUT(logLines(window).last().startsWith("device insert:"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!window.deviceSearchTimer().isActive(), 5000);
    QCOMPARE(updated->mode(), BoardMode::McuUpdate);
    QCOMPARE(box->currentText(), first);
    QCOMPARE(listed(window), (QStringList{second, first}));
    QVERIFY(rig.boxes.boxes().isEmpty());
}

QTEST_MAIN(WindowDevicesTest)
#include "test_window_devices.moc"
