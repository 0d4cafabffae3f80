#pragma once

// The board is unplugged during each phase of an operation: between two blocks, or while it holds
// the reply of the phase's frame (it never answers it). Run by two programs, the programmer's
// own operations and the target's, so that ctest -j runs them side by side.

#include "FaultBench.h"

#include "emulator/EmulatedBus.h"
#include "ui/MainWindowForm.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

namespace faultbench
{

// A board told to restart stays on the bus: the only unplug is the test's.
constexpr int kNoRestartMs = 600000;
// Stands for the phase between the first and the second block, in the frame column.
constexpr int kBetweenBlocks = 0;

inline void addUnplugColumns()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<char>("command");
    QTest::addColumn<int>("frame");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("buttons");
}

inline QTestData &addPhase(const char *name, Operation operation, char command, int frame)
{
    return QTest::newRow(name) << int(operation) << command << frame;
}

// A real unplug fails the pending transfer at once, while the removal news comes through the
// window's event queue: the unplug waits until the worker has seen its read fail, so the news
// always finds the programmer closed already.
inline void unplugHeldBoard(Bench &bench)
{
    zq::emu::EmulatedBus::instance().unplug(bench.path());
    QElapsedTimer clock;
    clock.start();
    while (bench.window().device().isOpen() && clock.elapsed() < 2000)
        QThread::yieldCurrentThread();
}

inline void runUnplugCase()
{
    QFETCH(int, operation);
    QFETCH(char, command);
    QFETCH(int, frame);
    QFETCH(QStringList, log);
    QFETCH(QStringList, buttons);

    QElapsedTimer clock;
    clock.start();
    Bench bench(Operation(operation), kNoRestartMs);
    bench.start();
    if (QTest::currentTestFailed())
        return;

    // Between blocks: the news comes while no transfer is pending, and is handled by the event
    // turn after the first block.
    bool unplugged = false;
    QObject::connect(bench.window().form()->progressBar, &QProgressBar::valueChanged,
                     [&](int percent) {
                         if (frame != kBetweenBlocks || unplugged || percent <= 0 || percent >= 99)
                             return;
                         unplugged = true;
                         zq::emu::EmulatedBus::instance().unplug(bench.path());
                     });
    if (frame != kBetweenBlocks)
        bench.board().faults().arm(Fault::nth(FaultKind::NoReply, frame).onCommand(command));
    QElapsedTimer sinceUnplug;
    WhenReplyHeld unplugger(bench, [&] {
        if (frame == kBetweenBlocks)
            return;
        unplugged = true;
        sinceUnplug.start();
        unplugHeldBoard(bench);
    });

    QCOMPARE(bench.run(), log);
    QVERIFY(unplugged);
    // A lost board ends the wait at once: no operation waits out its time-outs after it.
    if (sinceUnplug.isValid())
        QVERIFY2(sinceUnplug.elapsed() < 5000, "the operation went on waiting for a lost board");
    QCOMPARE(bench.enabledButtons(), buttons);
    QVERIFY(!bench.window().device().isOpen());
    QVERIFY(!bench.window().worker().isRunning());
    QVERIFY(bench.boxes().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!bench.window().devicePaths.contains(bench.path()), 5000);

    // Verify touches no button: the next press finds the programmer gone and says so.
    if (Operation(operation) == Operation::Verify) {
        const int before = bench.logLines().size();
        bench.window().form()->pushButton_VerifyTarget->click();
        QCOMPARE(bench.logLines().mid(before), QStringList{"The programmer is disconnected!"});
        QCOMPARE(bench.enabledButtons(), kNoButtons);
    }

    bench.replugAndProgram();
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(clock.elapsed() < 60000, "the case took a minute or more");
}

} // namespace faultbench
