#include "OperationRig.h"
#include "operations/Operations.h"

#include <QDir>
#include <QtTest>

using namespace zq::test;
using zq::FrontEnd;
using zq::emu::BoardMode;
using zq::emu::EmulatedBus;
using zq::emu::Fault;
using zq::emu::FaultKind;

namespace
{

constexpr uint32_t kBoardMcu = 0x32F10300; // the emulated board's own type
const QString kOk = QStringLiteral("Update MCU is OK!!!!!!");
const QString kFail = QStringLiteral("Update MCU is fail.....");
using ButtonCalls = QList<QPair<FrontEnd::Button, bool>>;

zq::emu::BoardIdentity inMode(BoardMode mode)
{
    zq::emu::BoardIdentity identity;
    identity.mode = mode;
    return identity;
}

// The firmware update is offered by the boot loader, the boot update by the application.
struct UpdateRig : OperationRig {
    QByteArray image;
    bool boot;
    UpdateRig(bool bootUpdate, const QByteArray &bytes)
        : OperationRig(inMode(bootUpdate ? BoardMode::Normal : BoardMode::McuUpdate)), image(bytes),
          boot(bootUpdate)
    {
        session.state.bootUpdateEnabled = 1;
        frontEnd.openFileAnswers << writeFile(boot ? "new.boot" : "new.app", image);
    }
    void run() { boot ? zq::ops::updateBoot(session) : zq::ops::updateFirmware(session); }
    QByteArray stored() const { return toByteArray(boot ? board->bootImage() : board->appImage()); }
    QString summary() const
    {
        return (boot ? "Boot code, CRC = " : "APP code, CRC = ") + crcText(image) +
               " Len: " + QString::number(image.size());
    }
    QStringList written() const
    {
        return {"Timer:", "Program flash..", "Write EFlash end!",
                "Timer:", "Read crc:" + crcText(image)};
    }
};

} // namespace

class UpdateTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { EmulatedBus::instance().unplugAll(); }
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void firmwareUpdateWritesChecksAndSwitchesToTheApplication()
    {
        UpdateRig rig(false, programmerImage(20000, 0x20260101, kBoardMcu));
        rig.frontEnd.log << "an earlier line";
        rig.run();

        QCOMPARE(rig.frontEnd.openFileCaptions, QStringList{"Select firmware files"});
        QCOMPARE(rig.frontEnd.openFileDirectories, QStringList{QDir::currentPath() + "/Firmware"});
        QCOMPARE(rig.frontEnd.openFileFilters, QStringList{"file(*.app)"});
        QCOMPARE(rig.frontEnd.history.first(), rig.summary());
        const QStringList expected =
            rig.written() + QStringList{"Check EFlash OK!", "Timer:", "", kOk};
        QCOMPARE(rig.log(), expected);
        QCOMPARE(rig.stored(), rig.image);
        QCOMPARE(rig.frontEnd.progress, (QList<int>{0, 20, 40, 61, 81, 100}));
        QCOMPARE(rig.frontEnd.operationButtonsCalls, (QList<bool>{false, true}));
        QCOMPARE(rig.frontEnd.buttonCalls, (ButtonCalls{{FrontEnd::Button::UpdateAPP, false},
                                                        {FrontEnd::Button::UpdateAPP, false}}));
        QCOMPARE(rig.session.state.bootUpdateEnabled, 1);
        QCOMPARE(rig.session.state.updateLength, 20000);
        // Run-mode byte 1: the boot loader hands over to the new application.
        QTRY_COMPARE_WITH_TIMEOUT(rig.board->mode(), BoardMode::Normal, 5000);
        QCOMPARE(rig.board->identity().appVersion, 0x20260101u);
    }

    void bootUpdateWritesChecksAndSwitchesToTheBootLoader()
    {
        UpdateRig rig(true, programmerImage(12288, 0x20260101, kBoardMcu));
        // A whole number of blocks: a fourth block would be an empty one.
        rig.arm(Fault::nth(FaultKind::WrongMarker, 4).onCommand('J'));
        rig.run();

        QCOMPARE(rig.frontEnd.openFileDirectories, QStringList{QDir::currentPath() + "/Bootware"});
        QCOMPARE(rig.frontEnd.openFileFilters, QStringList{"file(*.boot)"});
        QCOMPARE(rig.frontEnd.history.first(), rig.summary());
        QCOMPARE(rig.log().last(), kOk);
        QCOMPARE(rig.stored(), rig.image);
        QCOMPARE(rig.frontEnd.progress, (QList<int>{0, 33, 66, 100, 100}));
        QCOMPARE(rig.session.state.bootUpdateEnabled, 0);
        QCOMPARE(rig.frontEnd.buttonCalls, (ButtonCalls{{FrontEnd::Button::UpdateBoot, false},
                                                        {FrontEnd::Button::UpdateAPP, false}}));
        QTRY_COMPARE_WITH_TIMEOUT(rig.board->mode(), BoardMode::McuUpdate, 5000);
    }

    // Same version and a foreign MCU type are warnings for the firmware, which is written
    // anyway; the warnings go when the procedure clears the log.
    void firmwareWarningsDoNotStopTheUpdate()
    {
        UpdateRig rig(false, programmerImage(9000, 0x20250310, 0x12345678));
        rig.run();
        const QStringList warnings{rig.summary(),
                                   "file_Version:0x20250310",
                                   "App_Version:0x20250310",
                                   "The same version!",
                                   "(Board mcu)&(file mcu):0x32F10300 & 0x12345678",
                                   "The mcu type mismatch!"};
        QCOMPARE(rig.frontEnd.history.mid(0, 6), warnings);
        QCOMPARE(rig.log().last(), kOk);
        QCOMPARE(rig.stored(), rig.image);
    }

    void bootWarnings()
    {
        // The same version disables the button at once, and the image is still written.
        UpdateRig same(true, programmerImage(9000, 0x20250128, kBoardMcu));
        same.run();
        QCOMPARE(same.frontEnd.history.mid(1, 3),
                 (QStringList{"file_Version:0x20250128", "Boot_Version:0x20250128",
                              "The same version!"}));
        QCOMPARE(same.frontEnd.buttonCalls.first(), qMakePair(FrontEnd::Button::UpdateBoot, false));
        QCOMPARE(same.stored(), same.image);

        // A boot loader for another MCU is never written.
        UpdateRig foreign(true, programmerImage(9000, 0x20260101, 0x32F10301));
        foreign.run();
        QCOMPARE(foreign.frontEnd.log,
                 (QStringList{foreign.summary(), "(Board mcu)&(file mcu):0x32F10300 & 0x32F10301",
                              "The mcu type mismatch!"}));
        QVERIFY(foreign.stored().isEmpty());
        QVERIFY(foreign.frontEnd.operationButtonsCalls.isEmpty());
        QVERIFY(foreign.frontEnd.buttonCalls.isEmpty());
    }

    // Missing header bytes read as zero; the bytes that are there still count.
    void shortImages()
    {
        const QByteArray partHeader = programmerImage(4098, 0x20250300, 0);
        UpdateRig rig(false, partHeader);
        rig.session.state.appVersion = 0x20250300;
        rig.run();
        QCOMPARE(rig.frontEnd.history.mid(1, 5),
                 (QStringList{"file_Version:0x20250300", "App_Version:0x20250300",
                              "The same version!", "(Board mcu)&(file mcu):0x32F10300 & 0x00000000",
                              "The mcu type mismatch!"}));
        QCOMPARE(rig.log().last(), kOk);
        QCOMPARE(rig.stored(), partHeader);

        UpdateRig tiny(false, QByteArray::fromHex("01020304050607"));
        tiny.run();
        QCOMPARE(tiny.frontEnd.log,
                 (QStringList{tiny.summary(), "(Board mcu)&(file mcu):0x32F10300 & 0x00000000",
                              "The mcu type mismatch!", "", kFail}));
        QCOMPARE(tiny.frontEnd.boxes.size(), 1);
        QCOMPARE(tiny.frontEnd.boxes[0].text, QString("There aren't any datas to update!"));
        QCOMPARE(tiny.frontEnd.operationButtonsCalls, (QList<bool>{false, true}));
        QVERIFY(tiny.stored().isEmpty());
    }

    void failuresEndTheUpdateWithoutSwitching()
    {
        const QString lost = "The programmer boot is disconnected!";
        const QStringList started{"Timer:", "Program flash.."};
        const struct {
            const char *name;
            std::optional<Fault> fault;
            int lost; // 0 stays, 1 lost after the first block, 2 after the last block
            QStringList log;
        } cases[] = {
            {"full block", Fault::nth(FaultKind::WrongMarker, 2).onCommand('J'), 0,
             started + QStringList{"UPDATE_FLASH NG, Addr : 0x1000-3"}},
            {"last block", Fault::nth(FaultKind::BadReplyCrc, 5).onCommand('J'), 0,
             started + QStringList{"UPDATE_FLASH NG, Addr : 0x4000-4"}},
            {"lost after a block", std::nullopt, 1, started + QStringList{lost}},
            {"lost after the last block", std::nullopt, 2, started + QStringList{lost}},
            {"check",
             Fault::next(FaultKind::FailingStatus).onCommand('L'),
             0,
             {"*", "Check EFlash NG!"}},
        };
        for (const auto &c : cases) {
            UpdateRig rig(false, programmerImage(20000, 0x20260101, kBoardMcu));
            if (c.fault)
                rig.arm(*c.fault);
            if (c.lost == 1)
                rig.loseProgrammerAfterFirstBlock();
            if (c.lost == 2)
                rig.loseProgrammerAtFullProgress();
            rig.run();
            QStringList expected = c.log + QStringList{"", kFail};
            if (expected.first() == "*") {
                expected.removeFirst();
                expected = rig.written() + expected;
            }
            QVERIFY2(rig.log() == expected, c.name);
            QVERIFY2(rig.frontEnd.buttonCalls.isEmpty(), c.name);
            QVERIFY2(rig.frontEnd.operationButtonsCalls == (QList<bool>{false, true}), c.name);
        }
    }

    void refusalsBeforeAnythingIsSent()
    {
        const struct {
            const char *name;
            bool boot;
            int file; // 0 cancelled, 1 good, 2 missing
            bool open;
            QStringList log;
            QStringList boxes;
            QList<bool> buttons;
        } cases[] = {
            {"firmware closed",
             false,
             1,
             false,
             {"before", "The programmer boot is disconnected!"},
             {},
             {false}},
            {"boot closed",
             true,
             1,
             false,
             {"before", "The programmer app is disconnected!"},
             {},
             {false}},
            {"firmware cancelled", false, 0, true, {}, {"Please input firmware file"}, {}},
            {"boot cancelled", true, 0, true, {}, {"Please input Bootware file"}, {}},
            {"missing", false, 2, true, {"*"}, {"Read fail,please check the path!"}, {}},
        };
        for (const auto &c : cases) {
            UpdateRig rig(c.boot, programmerImage(9000, 0x20260101, kBoardMcu));
            if (c.file == 0)
                rig.frontEnd.openFileAnswers.clear();
            if (c.file == 2)
                rig.frontEnd.openFileAnswers = QStringList{rig.files.filePath("missing.app")};
            if (!c.open)
                rig.device.close();
            rig.frontEnd.log = QStringList{"before"};
            rig.run();
            const QString missing = rig.files.filePath("missing.app");
            verifyRefusal(rig, c.name, c.log, missing, c.boxes, c.buttons);
            QVERIFY2(rig.stored().isEmpty(), c.name);
        }
    }

    // The hidden button switches the resident program by the last reported mode, and does
    // nothing else.
    void runUartApplicationSwitchesTheResidentProgram()
    {
        const struct {
            BoardMode start;
            BoardMode after;
        } cases[] = {{BoardMode::McuUpdate, BoardMode::Normal},
                     {BoardMode::Normal, BoardMode::McuUpdate}};
        for (const auto &c : cases) {
            OperationRig rig(inMode(c.start));
            const auto mode = rig.session.state.connectionMode;
            zq::ops::runUartApplication(rig.session);
            QVERIFY(rig.frontEnd.log.isEmpty());
            QVERIFY(rig.frontEnd.operationButtonsCalls.isEmpty());
            QVERIFY(rig.frontEnd.buttonCalls.isEmpty());
            QCOMPARE(rig.session.state.connectionMode, mode);
            QTRY_COMPARE_WITH_TIMEOUT(rig.board->mode(), c.after, 5000);
        }
        OperationRig closed;
        closed.device.close();
        zq::ops::runUartApplication(closed.session);
        QCOMPARE(closed.frontEnd.log, QStringList{"The programmer boot is disconnected!"});
        QCOMPARE(closed.frontEnd.operationButtonsCalls, QList<bool>{false});
    }
};

QTEST_GUILESS_MAIN(UpdateTest)
#include "test_update.moc"
