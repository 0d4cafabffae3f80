// A user's day at the window, against the emulated programmer: open, choose a code file,
// download it and check it, program and verify the target, then update the programmer's own
// code and see it come back in its other mode.

#include "ModalBoxCloser.h"
#include "SampleImages.h"
#include "TestImages.h"
#include "WindowLog.h"
#include "WorkingDirectory.h"
#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "operations/ProgrammerState.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

using zq::MainWindowForm;
using zq::emu::Board;
using zq::emu::BoardIdentity;
using zq::emu::BoardMode;
using zq::emu::EmulatedBus;

namespace
{

constexpr uint32_t kBoardMcu = 0x32F10300;

std::shared_ptr<Board> plugBoard(BoardMode mode)
{
    BoardIdentity identity;
    identity.mode = mode;
    identity.boardMcu = kBoardMcu;
    identity.flashId = 0xEF4018;
    auto board = std::make_shared<Board>(identity);
    board->setRestartDelays(5, 5);
    EmulatedBus::instance().plug(board);
    return board;
}

// Opens the first board in the list through the button, as a user would.
void openFirstBoard(MainWindow &window)
{
    QTRY_COMPARE_WITH_TIMEOUT(window.form()->comboBox_Device->count(), 1, 5000);
    window.form()->pushButton_OpenDevice->click();
    QVERIFY(window.device().isOpen());
    QCOMPARE(logLines(window).last(), QString("Connect the programmer successful"));
}

} // namespace

class WindowOperationsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { EmulatedBus::instance().unplugAll(); }
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void codeImageGoesToFlashAndTarget();
    void firmwareUpdateSwitchesTheBoardToNormalWork();
    void bootUpdateIsOfferedByConfigAndSwitchesTheBoard();
    void closingDuringASilentCheckEndsPromptly();
};

void WindowOperationsTest::codeImageGoesToFlashAndTarget()
{
    WorkingDirectory directory;
    QVERIFY(writeAll(directory.filePath("Flash.ini"), kFlashIni));
    const QByteArray image = zq::samples::demoCodeImage();
    QVERIFY(writeAll(directory.filePath("demo.bin"), image));
    std::shared_ptr<Board> board = plugBoard(BoardMode::Normal);
    ModalBoxCloser boxes;
    MainWindow window(zq::usb::makeEmulatedTransport());
    MainWindowForm *f = window.form();
    openFirstBoard(window);
    QVERIFY(f->pushButton_UpdateFlash->isEnabled() && f->pushButton_CheckFlash->isEnabled());

    QStringList dialogs;
    window.setFileChooser([&](const QString &caption, const QString &, const QString &filter) {
        dialogs << caption + QLatin1Char('|') + filter;
        return directory.filePath("demo.bin");
    });
    f->pushButton_InputMCUCode->click();
    // The caption and the first filter as ever; the built formats come second.
    QCOMPARE(dialogs.size(), 1);
    QVERIFY2(dialogs[0].startsWith("Select Mcu Code|file(*.bin);;"), qPrintable(dialogs[0]));
    QCOMPARE(logLines(window), QStringList{"enter_Addr:0x08000145"});
    QCOMPARE(f->label_MCUCRC->text(),
             "Mcu code, CRC = " + crcText(image) + " Len: " + QString::number(image.size()));

    f->comboBox_MCUType->setCurrentIndex(3);
    f->pushButton_UpdateFlash->click();
    QCOMPARE(logLines(window).last(), QString("Download to the programmer flash is OK!!!!!!"));
    QCOMPARE(toByteArray(board->readSpiFlash(0x10000, uint32_t(image.size()))), image);
    QCOMPARE(f->progressBar->value(), 100);
    QVERIFY(f->pushButton_UpdateTarget->isEnabled()); // the buttons came back

    f->pushButton_CheckFlash->click();
    QCOMPARE(logLines(window).last(), QString("Check programmer flash CRC is OK..."));

    f->pushButton_UpdateTarget->click();
    QCOMPARE(logLines(window).last(), QString("Program target is OK!!!!!!"));
    QCOMPARE(toByteArray(board->readTargetFlash(0, uint32_t(image.size()))), image);
    QCOMPARE(f->comboBox_MCUType->currentIndex(), 3); // the emulated target is a ZQ318

    window.clearLog();
    f->pushButton_VerifyTarget->click();
    const QStringList verify = logLines(window);
    QCOMPARE(verify.count("Target run..."), 2);
    QVERIFY(verify.contains("Check EFlash OK!"));
    QVERIFY(boxes.boxes().isEmpty());
}

void WindowOperationsTest::firmwareUpdateSwitchesTheBoardToNormalWork()
{
    WorkingDirectory directory;
    QVERIFY(QDir().mkpath(directory.filePath("Firmware")));
    const QByteArray app = zq::samples::programmerImage(0x20260101, kBoardMcu, 7);
    QVERIFY(writeAll(directory.filePath("Firmware/new.app"), app));
    std::shared_ptr<Board> board = plugBoard(BoardMode::McuUpdate);
    ModalBoxCloser boxes;
    MainWindow window(zq::usb::makeEmulatedTransport());
    MainWindowForm *f = window.form();
    openFirstBoard(window);
    QVERIFY(f->pushButton_UpdateAPP->isEnabled());
    QVERIFY(!f->pushButton_UpdateTarget->isEnabled());
    const QString oldPath = window.device().devicePath();

    QString startFolder;
    window.setFileChooser([&](const QString &, const QString &folder, const QString &) {
        startFolder = folder;
        return directory.filePath("Firmware/new.app");
    });
    f->pushButton_UpdateAPP->click();
    QCOMPARE(startFolder, QDir::currentPath() + "/Firmware");
    QCOMPARE(logLines(window).last(), QString("Update MCU is OK!!!!!!"));
    QCOMPARE(toByteArray(board->appImage()).left(app.size()), app);
    QVERIFY(!f->pushButton_UpdateAPP->isEnabled());

    // The board leaves the bus and comes back in normal work into its port, under its path: the
    // window treats it as any removal and arrival, and does not reopen it by itself.
    QTRY_VERIFY_WITH_TIMEOUT(!window.device().isOpen(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(logLines(window).filter("device insert:").size() == 1, 5000);
    QVERIFY(logLines(window).contains("device remove:" + oldPath.toUpper()));
    QTRY_VERIFY_WITH_TIMEOUT(window.devicePaths == QStringList{oldPath}, 5000);
    QCOMPARE(f->comboBox_Device->count(), 1);
    QVERIFY(!window.worker().isRunning());
    QCOMPARE(board->mode(), BoardMode::Normal);

    f->pushButton_OpenDevice->click();
    QVERIFY(logLines(window).contains("Connection for normal work"));
    QVERIFY(logLines(window).contains("App_Version:  0x20260101"));
    QVERIFY(boxes.boxes().isEmpty());
}

void WindowOperationsTest::bootUpdateIsOfferedByConfigAndSwitchesTheBoard()
{
    WorkingDirectory directory;
    QVERIFY(writeAll(directory.filePath("config.ini"), "UPBOOT:1\n"));
    QVERIFY(QDir().mkpath(directory.filePath("Bootware")));
    const QByteArray boot = zq::samples::programmerImage(0x20260101, kBoardMcu, 9);
    QVERIFY(writeAll(directory.filePath("Bootware/new.boot"), boot));
    std::shared_ptr<Board> board = plugBoard(BoardMode::Normal);
    ModalBoxCloser boxes;
    MainWindow window(zq::usb::makeEmulatedTransport());
    MainWindowForm *f = window.form();
    openFirstBoard(window);
    QVERIFY(f->pushButton_UpdateBoot->isEnabled());

    window.setFileChooser([&](const QString &, const QString &folder, const QString &filter) {
        return folder == QDir::currentPath() + "/Bootware" && filter == "file(*.boot)"
                   ? directory.filePath("Bootware/new.boot")
                   : QString();
    });
    f->pushButton_UpdateBoot->click();
    QCOMPARE(logLines(window).last(), QString("Update MCU is OK!!!!!!"));
    QCOMPARE(toByteArray(board->bootImage()).left(boot.size()), boot);
    QVERIFY(!f->pushButton_UpdateBoot->isEnabled());
    QCOMPARE(window.state().bootUpdateEnabled, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!window.device().isOpen(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(board->mode(), BoardMode::McuUpdate, 5000);
    QVERIFY(boxes.boxes().isEmpty());
}

// The board never answers the target check, whose wait would run 25 000 passes (25 s or more).
// A close request in the middle gives the waits up: the operation ends with its failure line, the
// window goes, and config.ini is written when it is destroyed.
void WindowOperationsTest::closingDuringASilentCheckEndsPromptly()
{
    WorkingDirectory directory;
    QVERIFY(writeAll(directory.filePath("demo.bin"), zq::samples::demoCodeImage()));
    std::shared_ptr<Board> board = plugBoard(BoardMode::Normal);
    board->faults().arm(zq::emu::Fault::every(zq::emu::FaultKind::NoReply).onCommand('G'));
    ModalBoxCloser boxes;
    {
        MainWindow window(zq::usb::makeEmulatedTransport());
        window.show();
        openFirstBoard(window);
        window.setCodePathText(directory.filePath("demo.bin"));
        QTimer::singleShot(500, &window, [&window] { window.close(); });
        QElapsedTimer clock;
        clock.start();
        window.form()->pushButton_UpdateTarget->click();
        QVERIFY2(clock.elapsed() < 10000, "the close request did not end the wait");
        QVERIFY(clock.elapsed() >= 400); // it ran until the close, not less
        QCOMPARE(logLines(window).last(), QString("Program target is fail.....-7"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
        QVERIFY(!window.device().isOpen());
    }
    QCOMPARE(readAll(directory.filePath("config.ini")).count('\n'), 7);
}

QTEST_MAIN(WindowOperationsTest)
#include "test_window_operations.moc"
