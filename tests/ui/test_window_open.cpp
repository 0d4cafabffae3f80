// "Open programmer" through the window over the emulated bus: what each connection mode enables,
// the log of a successful open, and every way the open or the connect can fail, with the state
// each failure leaves.

#include "EmulatedWindow.h"
#include "ThreadNamed.h"
#include "operations/ProgrammerState.h"

#include "common/Crc32.h"
#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "emulator/Faults.h"
#include "emulator/Frames.h"
#include "operations/Operations.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using zq::emu::Board;
using zq::emu::BoardIdentity;
using zq::emu::BoardMode;
using zq::emu::EmulatedBus;
using zq::emu::Fault;
using zq::emu::FaultKind;

Q_DECLARE_METATYPE(FaultKind)

namespace
{

const QByteArray catalogue = "[FLASH]\n0xEF4018,256,65536,W25Q128,\n0x123456,256,65536,PARTA,\n";

// The buttons an open may change, by the names the form gives them.
QStringList enabledOperationButtons(const MainWindow &window)
{
    const zq::MainWindowForm *f = window.form();
    QStringList names;
    for (const QPushButton *button :
         {f->pushButton_UpdateTarget, f->pushButton_VerifyTarget, f->pushButton_UpdateFlash,
          f->pushButton_CheckFlash, f->pushButton_UpdateAPP, f->pushButton_UpdateBoot})
        if (button->isEnabled())
            names.append(button->objectName().mid(int(qstrlen("pushButton_"))));
    return names;
}

QStringList fieldTexts(const MainWindow &window)
{
    const zq::MainWindowForm *f = window.form();
    return {f->lineEdit_BoardID->text(), f->lineEdit_FlashID->text(), f->lineEdit_FlashSize->text(),
            f->lineEdit_FlashName->text()};
}

BoardIdentity identity(BoardMode mode, uint32_t flashId)
{
    BoardIdentity id;
    id.mode = mode;
    id.bootVersion = 0x20250128;
    id.appVersion = 0x20250310;
    id.boardMcu = 0x32F10300;
    id.boardId = 0x00012345;
    id.flashId = flashId;
    return id;
}

} // namespace

class WindowOpenTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void eachModeEnablesItsButtons_data();
    void eachModeEnablesItsButtons();
    void emptyListOpensNothing();
    void secondOpenOfAnOpenProgrammerShowsABox();
    void pathGoneSinceTheSearchFailsToOpen();
    void failedConnectLeavesTheBoardOpen_data();
    void failedConnectLeavesTheBoardOpen();
    void failedConnectKeepsTheLastIdentity();
    void settingsAreWrittenOnceTheWorkerHasStopped();
};

void WindowOpenTest::eachModeEnablesItsButtons_data()
{
    QTest::addColumn<char>("mode");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<uint32_t>("flashId");
    QTest::addColumn<bool>("bootButtonBefore");
    QTest::addColumn<QStringList>("enabled");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("fields");

    const QStringList id = {"The Board MCU&ID: 0x32F10300,0x00012345", "Boot_Version: 0x20250128",
                            "App_Version:  0x20250310"};
    const QStringList knownFields = {"0x00012345", "0xEF4018", "16777216", "W25Q128"};
    const QString opened = "Open the programmer ok...";
    const QString normal = "Connection for normal work";
    const QString mcuCode = "Connection for update mcu code";
    const QString boot = "Connection for update boot";
    const QString known = "FlashID:  0xEF4018";
    const QString done = "Connect the programmer successful";
    const QStringList targetAndFlash = {"UpdateTarget", "VerifyTarget", "UpdateFlash",
                                        "CheckFlash"};

    QTest::newRow("normal work, boot update allowed")
        << ';' << configIni("UPBOOT:1") << 0xEF4018u << false
        << targetAndFlash + QStringList{"UpdateBoot"}
        << QStringList{opened, normal} + id + QStringList{known, done} << knownFields;
    QTest::newRow("normal work, boot update refused, flash unknown")
        << ';' << configIni("UPBOOT:0") << 0x112233u << true
        << QStringList{"UpdateTarget", "VerifyTarget"}
        << QStringList{opened, normal} + id + QStringList{done}
        << QStringList{"0x00012345", "0x112233", "0", ""};
    // Only the first line of config.ini grants the boot update.
    QTest::newRow("normal work, permission on the wrong line")
        << ';' << QByteArray("UPBOOT:0\nUPBOOT:1\n./\n./\nBLSET:0\nWAITT:0\nPWROFF:1\n")
        << 0xEF4018u << true << targetAndFlash
        << QStringList{opened, normal} + id + QStringList{known, done} << knownFields;
    QTest::newRow("normal work, no config.ini")
        << ';' << QByteArray() << 0xEF4018u << true << targetAndFlash
        << QStringList{"Open config.ini fail", opened, normal} + id + QStringList{known, done}
        << knownFields;
    QTest::newRow("update mcu code")
        << '[' << configIni("UPBOOT:1") << 0xEF4018u << false << QStringList{"UpdateAPP"}
        << QStringList{opened, mcuCode} + id + QStringList{known, done} << knownFields;
    QTest::newRow("update mcu code leaves boot update alone")
        << '[' << configIni("UPBOOT:0") << 0xEF4018u << true
        << QStringList{"UpdateAPP", "UpdateBoot"}
        << QStringList{opened, mcuCode} + id + QStringList{known, done} << knownFields;
    QTest::newRow("update boot, permission does not enable boot update")
        << '+' << configIni("UPBOOT:1") << 0xEF4018u << false << targetAndFlash
        << QStringList{opened, boot} + id + QStringList{known, done} << knownFields;
    QTest::newRow("update boot, refusal does not disable boot update")
        << '+' << configIni("UPBOOT:0") << 0x123456u << true
        << targetAndFlash + QStringList{"UpdateBoot"}
        << QStringList{opened, boot} + id + QStringList{"FlashID:  0x123456", done}
        << QStringList{"0x00012345", "0x123456", "16777216", "PARTA"};
}

void WindowOpenTest::eachModeEnablesItsButtons()
{
    QFETCH(char, mode);
    QFETCH(QByteArray, config);
    QFETCH(uint32_t, flashId);
    QFETCH(bool, bootButtonBefore);
    QFETCH(QStringList, enabled);
    QFETCH(QStringList, log);
    QFETCH(QStringList, fields);

    EmulatedWindow rig(config, catalogue);
    EmulatedBus::instance().plug(std::make_shared<Board>(identity(BoardMode(mode), flashId)));
    MainWindow &window = rig.start();
    window.form()->pushButton_UpdateBoot->setEnabled(bootButtonBefore);
    rig.waitForList(1);

    rig.pressOpen();

    QCOMPARE(logLines(window), log);
    QCOMPARE(enabledOperationButtons(window), enabled);
    QCOMPARE(fieldTexts(window), fields);
    QVERIFY(rig.boxes.boxes().isEmpty());
    QVERIFY(window.device().isOpen());
    QVERIFY(window.worker().isRunning());
    const zq::ops::ProgrammerState &state = window.state();
    using zq::protocol::ConnectionMode;
    QCOMPARE(state.connectionMode, mode == ';'   ? ConnectionMode::NormalWork
                                   : mode == '[' ? ConnectionMode::UpdateMcuCode
                                                 : ConnectionMode::UpdateBoot);
    QCOMPARE(state.bootVersion, 0x20250128u);
    QCOMPARE(state.appVersion, 0x20250310u);
    QCOMPARE(state.boardMcu, 0x32F10300u);
    QCOMPARE(state.boardId, 0x00012345u);
    QCOMPARE(state.flashId, flashId);
    QCOMPARE(state.flashKnown, fields.at(3).isEmpty() ? 0 : 1);
    QCOMPARE(state.flashSize, fields.at(2).toInt());
    QCOMPARE(state.flashName, fields.at(3));
    QVERIFY(!window.form()->pushButton_RunApp->isVisible());
}

void WindowOpenTest::emptyListOpensNothing()
{
    EmulatedWindow rig(configIni("UPBOOT:1"), QByteArray());
    MainWindow &window = rig.start();
    QTRY_VERIFY_WITH_TIMEOUT(!window.deviceSearchTimer().isActive(), 5000);

    rig.pressOpen();
    QTest::qWait(100);

    QVERIFY(rig.boxes.boxes().isEmpty());
    QCOMPARE(logLines(window), QStringList());
    QVERIFY(!window.device().isOpen());
    QVERIFY(!window.worker().isRunning());
}

void WindowOpenTest::secondOpenOfAnOpenProgrammerShowsABox()
{
    EmulatedWindow rig(configIni("UPBOOT:1"), catalogue);
    EmulatedBus::instance().plug(std::make_shared<Board>(identity(BoardMode::Normal, 0xEF4018)));
    MainWindow &window = rig.start();
    rig.waitForList(1);
    rig.pressOpen();
    const QStringList log = logLines(window);
    const QStringList buttons = enabledOperationButtons(window);

    rig.pressOpen();

    QCOMPARE(rig.boxes.boxes().size(), 1);
    QCOMPARE(rig.boxes.boxes().first().title, QString("Message"));
    QCOMPARE(rig.boxes.boxes().first().text, QString("The programmer have opened!"));
    QCOMPARE(logLines(window), log);
    QCOMPARE(enabledOperationButtons(window), buttons);
    QVERIFY(window.device().isOpen());
    QVERIFY(window.worker().isRunning());
}

// The board went between the search and the press; its removal news has not been handled yet.
void WindowOpenTest::pathGoneSinceTheSearchFailsToOpen()
{
    EmulatedWindow rig(configIni("UPBOOT:1"), QByteArray());
    const QString path = EmulatedBus::instance().plug(std::make_shared<Board>());
    MainWindow &window = rig.start();
    rig.waitForList(1);

    EmulatedBus::instance().unplug(path);
    rig.pressOpen();

    QCOMPARE(rig.boxes.boxes().size(), 1);
    QCOMPARE(rig.boxes.boxes().first().title, QString("Message"));
    QCOMPARE(rig.boxes.boxes().first().text, QString("Open fail"));
    const QString advice = zq::ops::openFailureAdvice(zq::usb::OpenError::NotFound);
    QVERIFY(!advice.isEmpty());
    // The removal news is handled while the box is up.
    QCOMPARE(logLines(window), (QStringList{"device remove:" + path.toUpper(), advice}));
    QVERIFY(!window.device().isOpen());
    QVERIFY(!window.worker().isRunning());
    QCOMPARE(enabledOperationButtons(window), QStringList());
}

void WindowOpenTest::failedConnectLeavesTheBoardOpen_data()
{
    QTest::addColumn<FaultKind>("fault");
    QTest::addColumn<QStringList>("log");

    const QString opened = "Open the programmer ok...";
    const QString failed = "Fail to connect the programmer...";
    // The damaged reply's own CRC, as the board sent it, against the one the window computes.
    const zq::emu::Packet reply = zq::emu::connectReply(identity(BoardMode::Normal, 0xEF4018));
    const uint32_t computed = zq::crc32(reply.data(), 32);
    const uint32_t received = computed ^ 0x5A;

    QTest::newRow("no reply") << FaultKind::NoReply << QStringList{opened, failed};
    QTest::newRow("35-byte reply") << FaultKind::WrongLength << QStringList{opened, failed};
    QTest::newRow("reply CRC wrong")
        << FaultKind::BadReplyCrc
        << QStringList{opened,
                       "CRC error:" + MainWindow::toHexText(computed, 8) + "," +
                           MainWindow::toHexText(received, 8),
                       failed};
    QTest::newRow("unknown mode byte")
        << FaultKind::WrongMarker << QStringList{opened, "Illegal connection...", failed};
}

void WindowOpenTest::failedConnectLeavesTheBoardOpen()
{
    QFETCH(FaultKind, fault);
    QFETCH(QStringList, log);

    EmulatedWindow rig(configIni("UPBOOT:1"), catalogue);
    auto board = std::make_shared<Board>(identity(BoardMode::Normal, 0xEF4018));
    board->faults().arm(Fault::next(fault).onCommand('K'));
    EmulatedBus::instance().plug(board);
    MainWindow &window = rig.start();
    rig.waitForList(1);

    rig.pressOpen();

    QCOMPARE(logLines(window), log);
    QVERIFY(rig.boxes.boxes().isEmpty());
    QVERIFY(window.device().isOpen());
    QVERIFY(window.worker().isRunning());
    QCOMPARE(enabledOperationButtons(window), QStringList());
    QCOMPARE(fieldTexts(window), (QStringList{"", "", "", ""}));
    QCOMPARE(window.state().connectionMode, zq::protocol::ConnectionMode::UpdateMcuCode);
    QCOMPARE(window.state().boardId, 0u);
    QCOMPARE(window.state().flashKnown, 0);

    // Still open: a second press only says so, even though the board would now answer.
    rig.pressOpen();
    QCOMPARE(rig.boxes.boxes().size(), 1);
    QCOMPARE(rig.boxes.boxes().first().text, QString("The programmer have opened!"));
    QCOMPARE(logLines(window), log);
}

void WindowOpenTest::failedConnectKeepsTheLastIdentity()
{
    EmulatedWindow rig(configIni("UPBOOT:1"), catalogue);
    const QString first = EmulatedBus::instance().plug(
        std::make_shared<Board>(identity(BoardMode::Normal, 0xEF4018)));
    MainWindow &window = rig.start();
    rig.waitForList(1);
    rig.pressOpen();
    QCOMPARE(logLines(window).last(), QString("Connect the programmer successful"));
    EmulatedBus::instance().unplug(first);
    QTRY_VERIFY_WITH_TIMEOUT(!window.device().isOpen(), 5000);
    rig.waitForList(0);

    BoardIdentity other = identity(BoardMode::McuUpdate, 0x123456);
    other.boardId = 0x00ABCDEF;
    other.bootVersion = 0x20260101;
    auto second = std::make_shared<Board>(other);
    second->faults().arm(Fault::next(FaultKind::WrongMarker).onCommand('K'));
    EmulatedBus::instance().plug(second);
    rig.waitForList(1);
    const int linesBefore = logLines(window).size();
    rig.pressOpen();

    QCOMPARE(logLines(window).mid(linesBefore),
             (QStringList{"Open the programmer ok...", "Illegal connection...",
                          "Fail to connect the programmer..."}));
    const zq::ops::ProgrammerState &state = window.state();
    QCOMPARE(state.connectionMode, zq::protocol::ConnectionMode::NormalWork);
    QCOMPARE(state.boardId, 0x00012345u);
    QCOMPARE(state.bootVersion, 0x20250128u);
    QCOMPARE(state.flashId, 0xEF4018u);
    QCOMPARE(state.flashKnown, 1);
    QCOMPARE(fieldTexts(window), (QStringList{"0x00012345", "0xEF4018", "16777216", "W25Q128"}));
    QVERIFY(rig.boxes.boxes().isEmpty());
}

// The window stops the worker and closes the board, then writes config.ini: the box for a
// config.ini that cannot be written finds no worker left.
void WindowOpenTest::settingsAreWrittenOnceTheWorkerHasStopped()
{
    EmulatedWindow rig(configIni("UPBOOT:1"), catalogue);
    EmulatedBus::instance().plug(std::make_shared<Board>(identity(BoardMode::Normal, 0xEF4018)));
    rig.start();
    rig.waitForList(1);
    rig.pressOpen();
    QVERIFY(rig.window().worker().isRunning());
    QVERIFY(QFile::remove(rig.directory.filePath("config.ini")));
    QVERIFY(QDir(rig.directory.path()).mkdir("config.ini"));
    int workersAtTheBox = -1;
    rig.boxes.whenShown = [&workersAtTheBox](const ModalBoxCloser::Box &) {
        workersAtTheBox = threadNamed("USB_BURN_CTRL") != 0 ? 1 : 0;
    };
    rig.destroyWindow();
    QCOMPARE(rig.boxes.boxes().size(), 1);
    QCOMPARE(workersAtTheBox, 0);
}

QTEST_MAIN(WindowOpenTest)
#include "test_window_open.moc"
