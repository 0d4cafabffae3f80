#include "FakeUsb.h"
#include "RecordingFrontEnd.h"
#include "Replies.h"
#include "ScriptedWorker.h"
#include "protocol/CommandSet.h"
#include "protocol/Transaction.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"

#include <QLoggingCategory>
#include <QtTest>

#include <functional>

using namespace zq::protocol;
using namespace std::chrono_literals;
using zq::test::RecordingFrontEnd;
using zq::test::reply13;
using zq::test::ScriptedWorker;

namespace
{

// A clock that only moves when the window's thread waits for a board that has stalled, so a 25 s
// time-out passes in no time. A board hook plays the worker on the window's own thread at every
// wait; a worker thread gets real time until it has stalled.
class TestClock : public HandOverWait
{
public:
    TestClock(std::function<void()> board, std::function<bool()> stalled)
        : board_(std::move(board)), stalled_(std::move(stalled))
    {
    }
    explicit TestClock(const ScriptedWorker &worker)
        : TestClock({}, [&worker] { return worker.hanging(); })
    {
    }
    // The real worker in a fake channel's transfer that only an abort ends.
    TestClock(const USB_BURN_CTRL &ctrl, const FakeChannel &channel)
        : TestClock({}, [worker = &ctrl, pipe = &channel] {
              const uint32_t ticket = pipe->pendingTicket();
              return ticket != 0 &&
                     (ticket == worker->txNumber.load() || ticket == worker->rxNumber.load()) &&
                     ticket != worker->abortedNumber.load();
          })
    {
    }

    Clock::time_point now() const override { return now_; }

    void block(USB_BURN_CTRL &worker, Clock::duration limit,
               const std::function<bool()> &ready) override
    {
        if (board_)
            board_();
        else if (!stalled_())
            worker.waitForWorker(std::min<Clock::duration>(limit, 1ms), ready);
        if (!ready() && stalled_())
            now_ += limit;
    }

    Clock::duration since(Clock::time_point start) const { return now_ - start; }

private:
    std::function<void()> board_;
    std::function<bool()> stalled_;
    Clock::time_point now_{};
};

// A board that takes every frame (or none) and never answers: what the worker does with it,
// played synchronously on the window's thread.
struct SilentBoard {
    USB_BURN_CTRL &ctrl;
    bool confirmSends = true;

    void operator()() const
    {
        if (!confirmSends || ctrl.txRequest.exchange(0) != 1)
            return;
        const uint32_t number = ctrl.txNumber.load();
        ctrl.sentNumber.store(number);
        ctrl.txDone.store(1);
        ctrl.lastTransfer.store(USB_BURN_CTRL::Completed);
        ctrl.finishedNumber.store(number);
    }
};

using Command = std::function<int(CommandSet &)>;

const uint8_t kBlock[4] = {1, 2, 3, 4};

struct WaitCase {
    const char *name;
    Command run;
    std::chrono::milliseconds sendTimeout;
    std::chrono::milliseconds replyTimeout;
};

// Every command's two waits: the try counts at 1 ms a pass, or 10 us a pass for the block
// commands. A change of any one value, or of a wait style, changes one of these.
const WaitCase kWaits[] = {
    {"CONNECT",
     [](CommandSet &c) {
         ConnectReply r;
         return c.CMD_CONNECT(r);
     },
     1000ms, 1000ms},
    {"WRITE_SPIFLASH", [](CommandSet &c) { return c.CMD_WRITE_SPIFLASH(kBlock, 0x10000, 4); },
     2000ms, 4000ms},
    {"CHECK_SPIFLASH", [](CommandSet &c) { return c.CMD_CHECK_SPIFLASH(0, 0, 16); }, 1000ms,
     2200ms},
    {"UPDATE_FLASH", [](CommandSet &c) { return c.CMD_UPDATE_FLASH(kBlock, 0, 4); }, 1000ms,
     2000ms},
    {"CHECK_EFLASH", [](CommandSet &c) { return c.CMD_CHECK_EFLASH(0, 0, 16); }, 1000ms, 10000ms},
    {"USB_BOOT", [](CommandSet &c) { return c.CMD_USB_BOOT(0); }, 1000ms, 10000ms},
    {"SWD_INIT", [](CommandSet &c) { return c.CMD_SWD_INIT(0, {}); }, 2000ms, 3000ms},
    {"SWD_WRITE", [](CommandSet &c) { return c.CMD_SWD_WRITE(kBlock, 0x08000000, 4); }, 2000ms,
     4000ms},
    {"SWD_CHECK", [](CommandSet &c) { return c.CMD_SWD_CHECK(0, 0, 16); }, 1000ms, 25000ms},
};

} // namespace

class TransactionTest : public QObject
{
    Q_OBJECT
private slots:
    void everyCommandWaitsItsOwnTimeOuts()
    {
        for (const WaitCase &c : kWaits) {
            for (const bool confirm : {false, true}) {
                USB_BURN_CTRL ctrl;
                RecordingFrontEnd frontEnd;
                SilentBoard board{ctrl, confirm};
                TestClock clock([&] { board(); }, [] { return true; });
                CommandSet commands(ctrl, frontEnd, clock);
                const auto start = clock.now();
                const int result = c.run(commands);
                const auto waited = clock.since(start);
                const auto expected = confirm ? c.replyTimeout : c.sendTimeout;
                QVERIFY2(waited == expected,
                         qPrintable(
                             QString("%1 %2: waited %3 ms")
                                 .arg(c.name, confirm ? "reply" : "send")
                                 .arg(std::chrono::duration<double, std::milli>(waited).count())));
                QCOMPARE(result, confirm ? -2 : -1);
                // The window's events ran at least every 10 ms of the wait.
                QVERIFY(frontEnd.processEventsCalls >= waited / 10ms);
                // Nothing is left for a worker to pick up later.
                QCOMPARE(ctrl.txRequest.load(), uint8_t(0));
                QCOMPARE(ctrl.rxRequest.load(), uint8_t(0));
            }
        }
    }

    // The developer log says nothing until its rule turns it on; then it names the frame and the
    // wait that gave up. The user's log is the same either way.
    void developerLogIsSilentUntilItsRuleTurnsItOn()
    {
        static QStringList developerLines;
        developerLines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &at, const QString &text) {
                if (QByteArray(at.category).startsWith("zq."))
                    developerLines << QString::fromLatin1(at.category) + ": " + text;
            });
        const auto checkWithoutReply = [] {
            USB_BURN_CTRL ctrl;
            RecordingFrontEnd frontEnd;
            SilentBoard board{ctrl, true};
            TestClock clock([&] { board(); }, [] { return true; });
            CommandSet commands(ctrl, frontEnd, clock);
            const int result = commands.CMD_CHECK_EFLASH(0x600D, 0, 0x8000);
            return result == -2 && frontEnd.log.isEmpty();
        };
        QVERIFY(checkWithoutReply());
        const QStringList silent = developerLines;
        QLoggingCategory::setFilterRules(QStringLiteral("zq.*.debug=true"));
        const bool sameUserLog = checkWithoutReply();
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(previous);
        QVERIFY(silent.isEmpty());
        QVERIFY(sameUserLog);
        QCOMPARE(developerLines, (QStringList{"zq.protocol: frame out: 'L', 36 bytes, request 1",
                                              "zq.protocol: 'L' reply: timed out after 10000 ms"}));
    }

    // A lost device ends the wait at once, with the result of a wait that runs out.
    void lostDeviceEndsTheWaitAtOnce()
    {
        USB_BURN_CTRL ctrl;
        RecordingFrontEnd frontEnd;
        ScriptedWorker worker(ctrl);
        TestClock clock(worker);
        worker.loseDevice();
        Transaction transaction(ctrl, frontEnd, WaitStyle::Millisecond, clock);
        const auto start = clock.now();
        QCOMPARE(transaction.run(36, 1000, 25000), -2);
        QVERIFY(clock.since(start) < 100ms);
        QCOMPARE(ctrl.rxDone.load(), uint8_t(2));
    }

    // A read given up on is aborted, and the reply the board sends for it afterwards is drained
    // before the next frame goes out: the next command sees only its own reply.
    void lateReplyNeverPassesAsTheNextCommandsReply()
    {
        USB_BURN_CTRL ctrl;
        RecordingFrontEnd frontEnd;
        ScriptedWorker worker(ctrl);
        TestClock clock(worker);
        CommandSet commands(ctrl, frontEnd, clock);
        // The late reply would even pass the next command's checks: a failed CRC comparison.
        worker.replyLate(reply13('\\', 0x00000BAD, 1));
        QCOMPARE(commands.CMD_CHECK_EFLASH(0x600D, 0, 0x8000), -2);
        QVERIFY(frontEnd.log.isEmpty());

        worker.reply(reply13('\\', 0x0000600D, 0), 30);
        QCOMPARE(commands.CMD_CHECK_EFLASH(0x600D, 0, 0x8000), 0);
        QCOMPARE(frontEnd.log, QStringList{"Read crc:0x0000600D"});
        QCOMPARE(worker.frames().size(), 2);
        QCOMPARE(worker.drained(), 1);
    }

    // A late reply that comes after the drain is recognised by its marker while another command
    // waits, and dropped; the link does not stay one reply behind.
    void lateReplyAfterTheDrainIsDroppedByItsMarker()
    {
        USB_BURN_CTRL ctrl;
        RecordingFrontEnd frontEnd;
        ScriptedWorker worker(ctrl);
        TestClock clock(worker);
        CommandSet commands(ctrl, frontEnd, clock);
        worker.replyAfterDrain(reply13('W', 0x00000BAD, 1));
        QCOMPARE(commands.CMD_SWD_CHECK(0x600D, 0, 4096), -2);
        QCOMPARE(ctrl.owedReplies.load(), USB_BURN_CTRL::owedMarkerBit('W'));

        worker.reply(reply13('\\', 0x0000600D, 0));
        QCOMPARE(commands.CMD_CHECK_EFLASH(0x600D, 0, 0x8000), 0);
        QCOMPARE(frontEnd.log, QStringList{"Read crc:0x0000600D"});
        QCOMPARE(worker.readRequests(), 3); // the stale reply, then our own
        QCOMPARE(ctrl.owedReplies.load(), uint64_t(0));
    }

    // The real worker over a channel that counts what reaches the board: a reply that never
    // comes costs its command, and the next command is sent and answered on the same device.
    void lostReplyThenTheNextCommandIsSentAndAnswered()
    {
        auto transport = std::make_shared<FakeTransport>();
        const QString path = QStringLiteral("usb:001-004/vid_5a17&pid_c0d2");
        transport->plug(path);
        UsbDevice device(transport);
        QVERIFY(device.open(path));
        const std::shared_ptr<FakeChannel> channel = transport->channel();
        USB_BURN_CTRL ctrl;
        ctrl.device = &device;
        ctrl.start();
        RecordingFrontEnd frontEnd;
        TestClock clock(ctrl, *channel);
        CommandSet commands(ctrl, frontEnd, clock);

        QCOMPARE(commands.CMD_SWD_CHECK(0x600D, 0, 4096), -2); // the board stays silent
        QCOMPARE(channel->aborts.load(), 1);
        channel->answerNextFrame(reply13('\\', 0x0000600D, 0));
        QCOMPARE(commands.CMD_CHECK_EFLASH(0x600D, 0, 0x8000), 0);
        QCOMPARE(frontEnd.log, QStringList{"Read crc:0x0000600D"});
        QCOMPARE(channel->writes.load(), 2);
        QVERIFY(device.isOpen());
        QCOMPARE(channel->cancels.load(), 0);
        device.close();
    }

    // A reply stamped for another request that shows up while this one waits is dropped
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
