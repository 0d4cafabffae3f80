#include "CommandSet.h"
#include "RecordingFrontEnd.h"
#include "Replies.h"
#include "ScriptedWorker.h"
#include "Transaction.h"
#include "UsbBurnCtrl.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace zq::protocol;
using zq::test::RecordingFrontEnd;
using zq::test::reply13;
using zq::test::ScriptedWorker;

class TransactionTest : public QObject
{
    Q_OBJECT
private slots:
    void unconfirmedSendGivesMinusOneAfterEverySendTry()
    {
        USB_BURN_CTRL ctrl;
        RecordingFrontEnd frontEnd;
        ScriptedWorker worker(ctrl);
        worker.confirmSends(false);
        Transaction transaction(ctrl, frontEnd, WaitStyle::Millisecond);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(transaction.run(36, 120, 50), -1);
        QVERIFY(clock.elapsed() >= 120); // the waits are not cut short
        QCOMPARE(frontEnd.processEventsCalls, 120);
        QCOMPARE(worker.frames().size(), 1);
        QCOMPARE(worker.readRequests(), 0); // no reply is asked for an unconfirmed send
        QCOMPARE(ctrl.rxRequest.load(), uint8_t(0));
    }

    void silenceGivesMinusTwoAfterEveryReplyTry()
    {
        USB_BURN_CTRL ctrl;
        RecordingFrontEnd frontEnd;
        ScriptedWorker worker(ctrl);
        worker.stayQuiet();
        Transaction transaction(ctrl, frontEnd, WaitStyle::Millisecond);
        QCOMPARE(transaction.send(36, 1000), 0);
        const int before = frontEnd.processEventsCalls;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(transaction.awaitReply(150), -2);
        QVERIFY(clock.elapsed() >= 150);
        QCOMPARE(frontEnd.processEventsCalls - before, 150);
        QCOMPARE(worker.readRequests(), 1);
    }

    // A lost device (rxDone = 2) does not end the wait; it runs out like silence.
    void lostDeviceRunsTheReplyWaitOut()
    {
        USB_BURN_CTRL ctrl;
        RecordingFrontEnd frontEnd;
        ScriptedWorker worker(ctrl);
        worker.loseDevice();
        Transaction transaction(ctrl, frontEnd, WaitStyle::Millisecond);
        QCOMPARE(transaction.send(36, 1000), 0);
        const int before = frontEnd.processEventsCalls;
        QCOMPARE(transaction.awaitReply(80), -2);
        QCOMPARE(frontEnd.processEventsCalls - before, 80);
        QCOMPARE(ctrl.rxDone.load(), uint8_t(2));
    }

    void twoMicrosecondStyleCountsPassesToo()
    {
        USB_BURN_CTRL ctrl;
        RecordingFrontEnd frontEnd;
        ScriptedWorker worker(ctrl);
        worker.confirmSends(false);
        Transaction transaction(ctrl, frontEnd, WaitStyle::TwoMicroseconds);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(transaction.run(4110, 5000, 10), -1);
        QVERIFY(clock.nsecsElapsed() >= 5000 * 2000LL);
        QCOMPARE(frontEnd.processEventsCalls, 5000);

        worker.confirmSends(true);
        worker.stayQuiet();
        QCOMPARE(transaction.send(4110, 200000), 0);
        const int before = frontEnd.processEventsCalls;
        QCOMPARE(transaction.awaitReply(5000), -2);
        QCOMPARE(frontEnd.processEventsCalls - before, 5000);
    }

    // A reply that comes after its command gave up reaches the worker before the next frame
    // goes out; the next command must see only its own reply, and nothing is logged.
    void lateReplyNeverPassesAsTheNextCommandsReply()
    {
        USB_BURN_CTRL ctrl;
        RecordingFrontEnd frontEnd;
        ScriptedWorker worker(ctrl);
        CommandSet commands(ctrl, frontEnd);
        // The late reply would even pass the next command's checks: a failed CRC comparison.
        worker.replyLate(reply13('\\', 0x00000BAD, 1));
        ConnectReply identity;
        QCOMPARE(commands.CMD_CONNECT(identity), -2);
        QVERIFY(frontEnd.log.isEmpty());

        worker.reply(reply13('\\', 0x0000600D, 0), 30);
        QCOMPARE(commands.CMD_CHECK_EFLASH(0x600D, 0, 0x8000), 0);
        QCOMPARE(frontEnd.log, QStringList{"Read crc:0x0000600D"});
        QCOMPARE(worker.frames().size(), 2);
    }

    // A reply stamped for another transaction that shows up while this one waits is dropped
    // (rxDone back to 0) and the wait goes on to the transaction's own reply.
    void strayReplyDuringTheWaitIsDropped()
    {
        USB_BURN_CTRL ctrl;
        RecordingFrontEnd frontEnd;
        ScriptedWorker worker(ctrl);
        CommandSet commands(ctrl, frontEnd);
        worker.replyAfterStray(reply13('W', 0x00000BAD, 1), reply13('W', 0x0000600D, 0));
        QCOMPARE(commands.CMD_SWD_CHECK(0x600D, 0, 4096), 0);
        QVERIFY(worker.strayDropped());
        QCOMPARE(frontEnd.log, QStringList{"Read crc:0x0000600D"});
    }
};

QTEST_GUILESS_MAIN(TransactionTest)
#include "test_transaction.moc"
