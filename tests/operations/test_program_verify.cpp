#include "OperationRig.h"
#include "operations/Operations.h"

#include <QtTest>

using namespace zq::test;
using zq::emu::EmulatedBus;
using zq::emu::Fault;
using zq::emu::FaultKind;

namespace
{

const QString kOk = QStringLiteral("Program target is OK!!!!!!");
const QString kFail = QStringLiteral("Program target is fail.....");
const QString kLost = QStringLiteral("The programmer is disconnected!");

QByteArray targetFlash(OperationRig &rig, int length)
{
    return toByteArray(rig.board->readTargetFlash(0, uint32_t(length)));
}

struct TargetRig : OperationRig {
    QByteArray image;
    explicit TargetRig(int size, const zq::emu::TargetConfig &target = {},
                       uint32_t entry = 0x08000145)
        : OperationRig({}, target), image(codeImage(size, entry))
    {
        frontEnd.swdSpeed = 1;
        useCodeFile(image);
    }
    QStringList written() const
    {
        return {"Target init ok...",    "Target type:0x5A3C3180", "Init ready...", "Timer:",
                "Start to program ...", "Program end!",           "Timer:"};
    }
};

} // namespace

class ProgramVerifyTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { EmulatedBus::instance().unplugAll(); }
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void programWritesChecksAndRunsTheTarget()
    {
        TargetRig rig(5000);
        rig.frontEnd.powerOff = true;
        rig.frontEnd.log << "an earlier line";
        zq::ops::programTargetOperation(rig.session);

        const QStringList expected = rig.written() + QStringList{"Read crc:" + crcText(rig.image),
                                                                 "Check crc OK!",
                                                                 "Timer:",
                                                                 "Target run...",
                                                                 "",
                                                                 kOk};
        QCOMPARE(rig.log(), expected);
        QCOMPARE(targetFlash(rig, 5000), rig.image);
        QCOMPARE(rig.frontEnd.progress, (QList<int>{0, 81, 100}));
        QCOMPARE(rig.frontEnd.mcuTypeIndexesSet, QList<int>{3});
        QCOMPARE(rig.frontEnd.operationButtonsCalls, (QList<bool>{false, true}));
        QCOMPARE(rig.frontEnd.codeSummaries.size(), 1);
        QCOMPARE(rig.board->targetRunCount(), 1);
        QVERIFY(rig.board->targetPoweredOff());
        QCOMPARE(rig.board->swdSpeed(), uint8_t(1));
    }

    // Whole blocks only, no empty block after them; a single short block goes straight to 100.
    void blockCountsFollowTheLength()
    {
        const struct {
            int size;
            QList<int> progress;
        } cases[] = {{8192, {0, 50, 100, 100}}, {100, {0, 100}}};
        for (const auto &c : cases) {
            TargetRig rig(c.size);
            rig.arm(Fault::nth(FaultKind::WrongMarker, c.size / 4096 + 2).onCommand('F'));
            zq::ops::programTargetOperation(rig.session);
            QCOMPARE(rig.frontEnd.log.last(), kOk);
            QCOMPARE(targetFlash(rig, c.size), rig.image);
            QCOMPARE(rig.frontEnd.progress, c.progress);
        }
    }

    // Unlike the download, the last block carries only the image's own bytes: what the target
    // held beyond them stays.
    void theLastBlockCarriesOnlyTheRest()
    {
        TargetRig rig(5000);
        const QByteArray longer = codeImage(8192, 0x08000145, 9);
        rig.useCodeFile(longer);
        zq::ops::programTargetOperation(rig.session);
        rig.useCodeFile(rig.image);
        zq::ops::programTargetOperation(rig.session);
        QCOMPARE(rig.frontEnd.log.last(), kOk);
        QCOMPARE(targetFlash(rig, 8192), rig.image + longer.mid(5000));
    }

    void failuresEndProgrammingWithTheirLines()
    {
        const QStringList initOk{"Target init ok...", "Target type:0x5A3C3180", "Init ready..."};
        const QStringList started = initOk + QStringList{"Timer:", "Start to program ..."};
        zq::emu::TargetConfig stranger;
        stranger.targetId = 0x12345678;
        zq::emu::TargetConfig absent;
        absent.present = false;
        const struct {
            const char *name;
            int size;
            zq::emu::TargetConfig target;
            std::optional<Fault> fault;
            int lost; // 0 stays, 1 lost after the first block, 2 after the last block
            QStringList log;
        } cases[] = {
            {"unknown target",
             5000,
             stranger,
             std::nullopt,
             0,
             {"Target init ok...", "Target type:0x12345678", "Init ready...", "", kFail + "-10"}},
            {"no target",
             5000,
             absent,
             std::nullopt,
             0,
             {"Target init fail...", "Init fail...-3", "", kFail + "10"}},
            {"full block",
             8192,
             {},
             Fault::nth(FaultKind::WrongMarker, 2).onCommand('F'),
             0,
             started + QStringList{"NG, Addr : 0x1000-3", "", kFail + "-3"}},
            {"last block",
             5000,
             {},
             Fault::nth(FaultKind::WrongMarker, 2).onCommand('F'),
             0,
             started + QStringList{"NG, Addr : 0x1000-3", "", kFail + "-5"}},
            {"lost after a block",
             8192,
             {},
             std::nullopt,
             1,
             started + QStringList{kLost, "", kFail + "-4"}},
            {"lost after the last block",
             5000,
             {},
             std::nullopt,
             2,
             started + QStringList{kLost, "", kFail + "-6"}},
            {"run malformed",
             5000,
             {},
             Fault::nth(FaultKind::WrongMarker, 2).onCommand('A'),
             0,
             {"*", "Check crc OK!", "Timer:", "", kFail + "10"}},
            // The run command still returns 0 after reporting the failed run.
            {"run fails",
             5000,
             {},
             Fault::nth(FaultKind::FailingStatus, 2).onCommand('A'),
             0,
             {"*", "Check crc OK!", "Timer:", "Target run fail...", "", kOk}},
            {"check",
             5000,
             {},
             Fault::next(FaultKind::FailingStatus).onCommand('G'),
             0,
             {"*", "Check crc NG!", "", kFail + "-7"}},
        };
        for (const auto &c : cases) {
            TargetRig rig(c.size, c.target);
            if (c.fault)
                rig.arm(*c.fault);
            if (c.lost == 1)
                rig.loseProgrammerAfterFirstBlock();
            if (c.lost == 2)
                rig.loseProgrammerAtFullProgress();
            zq::ops::programTargetOperation(rig.session);

            QStringList expected = c.log;
            if (expected.first() == "*") {
                expected.removeFirst();
                expected = rig.written() + QStringList{"Read crc:" + crcText(rig.image)} + expected;
            }
            QVERIFY2(rig.log() == expected, c.name);
            QVERIFY2(rig.frontEnd.operationButtonsCalls == (QList<bool>{false, true}), c.name);
        }
        TargetRig unknown(5000, stranger);
        zq::ops::programTargetOperation(unknown.session);
        QCOMPARE(unknown.frontEnd.mcuTypeIndexesSet, QList<int>{0});
    }

    void programRefusals()
    {
        const QString problem = "There is a problem with the running address of this file!";
        const struct {
            const char *name;
            int size;
            uint32_t entry;
            int codeFile; // 0 none, 1 good, 2 missing
            bool open;
            QStringList log;
            QStringList boxes;
            QList<bool> buttons;
        } cases[] = {
            {"closed", 5000, 0x08000145, 1, false, {"before", kLost}, {}, {false}},
            {"no path",
             5000,
             0x08000145,
             0,
             true,
             {"before"},
             {"Message:Please input a code file"},
             {}},
            {"missing",
             5000,
             0x08000145,
             2,
             true,
             {"before", "*"},
             {"Message:Read fail,please check the path!"},
             {}},
            {"bad entry",
             5000,
             0x10002000,
             1,
             true,
             {"***" + problem + "***"},
             {"Message:" + problem},
             {}},
            // Too short to write, yet its entry address (missing bytes zero) passes the check.
            {"five bytes",
             5,
             0x00000045,
             1,
             true,
             {"", kFail + "-1"},
             {"Message:There aren't any datas to update!"},
             {false, true}},
            {"empty",
             0,
             0,
             1,
             true,
             {"", kFail + "-1"},
             {"Message:There aren't any datas to update!"},
             {false, true}},
        };
        for (const auto &c : cases) {
            TargetRig rig(c.size, {}, c.entry);
            rig.prepareRefusal(c.codeFile, c.open);
            rig.frontEnd.log = QStringList{"before"};
            zq::ops::programTargetOperation(rig.session);
            verifyRefusal(rig, c.name, c.log, rig.frontEnd.codePath, c.boxes, c.buttons, true);
            QVERIFY2(!rig.board->targetConnected() && rig.board->targetRunCount() == 0, c.name);
        }
        TargetRig empty(0);
        zq::ops::programTargetOperation(empty.session);
        QCOMPARE(empty.frontEnd.codeSummaries, QStringList{"Mcu code, CRC = 0x00000000 Len: 0"});
    }

    // Verify reports every step, whatever the one before said, and touches nothing else.
    void verifyComparesTheTargetWithTheFile()
    {
        zq::emu::TargetConfig absent;
        absent.present = false;
        for (int round = 0; round < 3; ++round) {
            TargetRig rig(5000, round == 2 ? absent : zq::emu::TargetConfig{}, 0x08001001);
            if (round == 0) {
                // The procedure itself has no running-address check; the Program button has.
                rig.session.state.mcuCodeCrc = referenceCrc(rig.image);
                QCOMPARE(zq::ops::programTarget(rig.session, rig.image), 0);
                rig.frontEnd.progress.clear();
                rig.frontEnd.operationButtonsCalls.clear();
            }
            rig.frontEnd.log = QStringList{"before"};
            const int clears = rig.frontEnd.logClears;
            zq::ops::verifyTarget(rig.session);

            const QString erased = crcText(QByteArray(5000, char(0xFF)));
            const QStringList expected[] = {
                {"before", "", "", "Target init ok...", "Target type:0x5A3C3180", "Init ready...",
                 "Read crc:" + crcText(rig.image), "Check EFlash OK!", "Target run...",
                 "Target run..."},
                {"before", "", "", "Target init ok...", "Target type:0x5A3C3180", "Init ready...",
                 "Read crc:" + erased, "Check EFlash NG!", "Target run...", "Target run..."},
                {"before", "", "", "Target init fail...", "Init fail...", "Read crc:0x00000000",
                 "Check EFlash NG!", "Target run fail...", "Target run..."},
            };
            QCOMPARE(rig.frontEnd.log, expected[round]);
            QVERIFY(rig.frontEnd.boxes.isEmpty());
            QVERIFY(rig.frontEnd.progress.isEmpty());
            QVERIFY(rig.frontEnd.operationButtonsCalls.isEmpty());
            QCOMPARE(rig.frontEnd.logClears, clears);
        }
    }

    void verifyRefusals()
    {
        const struct {
            const char *name;
            int codeFile; // 0 none, 2 missing
            bool open;
            QStringList log;
            QStringList boxes;
            QList<bool> buttons;
        } cases[] = {
            {"closed", 2, false, {kLost}, {}, {false}},
            {"no path", 0, true, {}, {"Message:Please input flash code file"}, {}},
            {"missing", 2, true, {"*"}, {"Message:Read file fail,please check the path!"}, {}},
        };
        for (const auto &c : cases) {
            TargetRig rig(5000);
            rig.prepareRefusal(c.codeFile, c.open);
            zq::ops::verifyTarget(rig.session);
            verifyRefusal(rig, c.name, c.log, rig.frontEnd.codePath, c.boxes, c.buttons, true);
        }
    }
};

QTEST_GUILESS_MAIN(ProgramVerifyTest)
#include "test_program_verify.moc"
