// Programming the target with each fault switch on the SWD init, the first, a middle and the last
// block, the target check and the run step.

#include "FaultBench.h"

#include <QtTest>

using namespace faultbench;

class ProgramFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { unplugEverything(); }
    void cleanup() { unplugEverything(); }

    void programUnderFaults_data();
    void programUnderFaults() { runCase(Operation::Program); }
};

// 'A' #1 is the init, 'A' #2 the run step. Blocks go to 0, 0x1000 and 0x2000 (the short one,
// whose failure is -5). A run step whose target reports a failure still ends OK; block replies
// are only validated and a damaged one logs no CRC line.
void ProgramFaultsTest::programUnderFaults_data()
{
    addMatrixColumns();

    const QString image = hex8(referenceCrc(codeImage()));
    const QStringList ready = {"Target init ok...", "Target type:0x5A3C3180", "Init ready..."};
    const QStringList started = ready + QStringList{kTimer, "Start to program ..."};
    const QStringList written = started + QStringList{"Program end!", kTimer};
    const QStringList checked = written + QStringList{"Read crc:" + image, "Check crc OK!", kTimer};
    const QStringList ok = checked + QStringList{"Target run...", "", "Program target is OK!!!!!!"};
    const auto fail = [](int result) {
        return QStringList{"", "Program target is fail....." + QString::number(result)};
    };
    const QString initCrc = damaged("SWD init CRC:");
    const ButtonSets buttons = on(kTargetAndFlash);

    using F = FaultKind;
    addCase('A', 1, F::NoReply) << QStringList{"Init fail...-2"} + fail(10) << buttons;
    addCase('A', 1, F::LateReply) << ok << buttons;
    addCase('A', 1, F::WrongLength) << QStringList{"Init fail...-3"} + fail(10) << buttons;
    addCase('A', 1, F::WrongMarker) << QStringList{"Init fail...-3"} + fail(10) << buttons;
    addCase('A', 1, F::BadReplyCrc) << QStringList{initCrc, "Init fail...-4"} + fail(10) << buttons;
    addCase('A', 1, F::FailingStatus)
        << QStringList{"Target init fail...", "Init fail...-3"} + fail(10) << buttons;
    addCase('A', 1, F::BoardGone) << QStringList{kRemoved, "Init fail...-2"} + fail(10) << buttons;
    addCase('A', 1, F::Latency) << ok << buttons;

    addCase('F', 1, F::NoReply) << started + QStringList{"NG, Addr : 0x0-2"} + fail(-3) << buttons;
    addCase('F', 1, F::LateReply) << ok << buttons;
    addCase('F', 1, F::WrongLength)
        << started + QStringList{"NG, Addr : 0x0-3"} + fail(-3) << buttons;
    addCase('F', 1, F::WrongMarker)
        << started + QStringList{"NG, Addr : 0x0-3"} + fail(-3) << buttons;
    addCase('F', 1, F::BadReplyCrc)
        << started + QStringList{"NG, Addr : 0x0-4"} + fail(-3) << buttons;
    addCase('F', 1, F::FailingStatus) << ok << buttons;
    addCase('F', 1, F::BoardGone) << started + QStringList{kRemoved, "NG, Addr : 0x0-2"} + fail(-3)
                                  << buttons;
    addCase('F', 1, F::Latency) << ok << buttons;

    addCase('F', 2, F::NoReply) << started + QStringList{"NG, Addr : 0x1000-2"} + fail(-3)
                                << buttons;
    addCase('F', 2, F::LateReply) << ok << buttons;
    addCase('F', 2, F::WrongLength)
        << started + QStringList{"NG, Addr : 0x1000-3"} + fail(-3) << buttons;
    addCase('F', 2, F::WrongMarker)
        << started + QStringList{"NG, Addr : 0x1000-3"} + fail(-3) << buttons;
    addCase('F', 2, F::BadReplyCrc)
        << started + QStringList{"NG, Addr : 0x1000-4"} + fail(-3) << buttons;
    addCase('F', 2, F::FailingStatus) << ok << buttons;
    addCase('F', 2, F::BoardGone) << started + QStringList{kRemoved, "NG, Addr : 0x1000-2"} +
                                         fail(-3)
                                  << buttons;
    addCase('F', 2, F::Latency) << ok << buttons;

    addCase('F', 3, F::NoReply) << started + QStringList{"NG, Addr : 0x2000-2"} + fail(-5)
                                << buttons;
    addCase('F', 3, F::LateReply) << ok << buttons;
    addCase('F', 3, F::WrongLength)
        << started + QStringList{"NG, Addr : 0x2000-3"} + fail(-5) << buttons;
    addCase('F', 3, F::WrongMarker)
        << started + QStringList{"NG, Addr : 0x2000-3"} + fail(-5) << buttons;
    addCase('F', 3, F::BadReplyCrc)
        << started + QStringList{"NG, Addr : 0x2000-4"} + fail(-5) << buttons;
    addCase('F', 3, F::FailingStatus) << ok << buttons;
    addCase('F', 3, F::BoardGone) << started + QStringList{kRemoved, "NG, Addr : 0x2000-2"} +
                                         fail(-5)
                                  << buttons;
    addCase('F', 3, F::Latency) << ok << buttons;

    addCase('G', 1, F::NoReply) << written + QStringList{"Check crc NG!"} + fail(-7) << buttons;
    addCase('G', 1, F::LateReply) << ok << buttons;
    addCase('G', 1, F::WrongLength) << written + QStringList{"Check crc NG!"} + fail(-7) << buttons;
    addCase('G', 1, F::WrongMarker) << written + QStringList{"Check crc NG!"} + fail(-7) << buttons;
    addCase('G', 1, F::BadReplyCrc)
        << written + QStringList{damaged("CRC error:"), "Check crc NG!"} + fail(-7) << buttons;
    addCase('G', 1, F::FailingStatus)
        << written + QStringList{"Read crc:" + image, "Check crc NG!"} + fail(-7) << buttons;
    addCase('G', 1, F::BoardGone) << written + QStringList{kRemoved, "Check crc NG!"} + fail(-7)
                                  << buttons;
    addCase('G', 1, F::Latency) << ok << buttons;

    addCase('A', 2, F::NoReply) << checked + fail(10) << buttons;
    addCase('A', 2, F::LateReply) << ok << buttons;
    addCase('A', 2, F::WrongLength) << checked + fail(10) << buttons;
    addCase('A', 2, F::WrongMarker) << checked + fail(10) << buttons;
    addCase('A', 2, F::BadReplyCrc) << checked + QStringList{initCrc} + fail(10) << buttons;
    addCase('A', 2, F::FailingStatus)
        << checked + QStringList{"Target run fail...", "", "Program target is OK!!!!!!"} << buttons;
    addCase('A', 2, F::BoardGone) << checked + QStringList{kRemoved} + fail(10) << buttons;
    addCase('A', 2, F::Latency) << ok << buttons;
}

QTEST_MAIN(ProgramFaultsTest)
#include "test_faults_program.moc"
