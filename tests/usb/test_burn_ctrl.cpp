#include "FakeUsb.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"

#include "ThreadNamed.h"

#include <QtTest>

#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

namespace
{

const QString kPath = QStringLiteral("usb:001-004/vid_5a17&pid_c0d2");

// Far beyond anything the worker needs; only a hang runs into it.
bool eventually(const std::function<bool()> &condition, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// One opened fake programmer and its worker, wired as the window wires them.
struct Rig {
    Rig()
    {
        transport->plug(kPath);
        device.open(kPath);
        channel = transport->channel();
        ctrl.device = &device;
    }

    // The window's side of a send: data first, the request flag last.
    void requestSend(const QByteArray &frame)
    {
        std::copy(frame.begin(), frame.end(), ctrl.txBuffer);
        ctrl.txDone.store(0, std::memory_order_release);
        ctrl.rxDone.store(0, std::memory_order_release);
        ctrl.txLength.store(frame.size(), std::memory_order_release);
        ctrl.txNumber.store(nextNumber(), std::memory_order_release);
        ctrl.txRequest.store(1, std::memory_order_release);
        ctrl.wakeWorker();
    }
    void requestReceive(uint32_t number)
    {
        ctrl.txDone.store(0, std::memory_order_release);
        ctrl.rxDone.store(0, std::memory_order_release);
        ctrl.rxNumber.store(number, std::memory_order_release);
        ctrl.rxRequest.store(1, std::memory_order_release);
        ctrl.wakeWorker();
    }
    uint32_t nextNumber() { return ++numbers; }
    bool finished(uint32_t number, USB_BURN_CTRL::Outcome outcome)
    {
        return eventually([&] {
            return ctrl.finishedNumber.load() == number && ctrl.lastTransfer.load() == outcome;
        });
    }
    bool txDone() const { return ctrl.txDone.load(std::memory_order_acquire) == 1; }
    uint8_t rxDone() const { return ctrl.rxDone.load(std::memory_order_acquire); }
    QByteArray reply() const
    {
        return QByteArray(reinterpret_cast<const char *>(ctrl.rxBuffer),
                          ctrl.rxLength.load(std::memory_order_acquire));
    }
    bool ended()
    {
        return eventually([&] { return ctrl.isFinished(); });
    }

    std::shared_ptr<FakeTransport> transport = std::make_shared<FakeTransport>();
    UsbDevice device{transport};
    std::shared_ptr<FakeChannel> channel;
    USB_BURN_CTRL ctrl;
    uint32_t numbers = 100; // above the numbers the cases give their own requests
};

#ifdef __linux__
// The cores the worker thread may run on.
std::vector<int> workerCores()
{
    cpu_set_t set;
    const int worker = threadNamed("USB_BURN_CTRL");
    if (worker == 0 || sched_getaffinity(worker, sizeof set, &set) != 0)
        return {};
    std::vector<int> cores;
    for (int core = 0; core < CPU_SETSIZE; ++core)
        if (CPU_ISSET(core, &set))
            cores.push_back(core);
    return cores;
}
#endif

} // namespace

class BurnCtrlTest : public QObject
{
    Q_OBJECT

private slots:
    void exchangesFrameAndReply()
    {
        Rig rig;
        rig.ctrl.start();
        rig.requestSend(QByteArray("\xA5\x4B\x00\x01", 4));
        QVERIFY(eventually([&] { return rig.txDone(); }));
        QCOMPARE(rig.channel->writtenBytes(), QByteArray("\xA5\x4B\x00\x01", 4));

        rig.channel->queuePacket(QByteArray("\x5A\x4B\x00", 3));
        rig.requestReceive(1);
        QVERIFY(eventually([&] { return rig.rxDone() == 1; }));
        QCOMPARE(rig.reply(), QByteArray("\x5A\x4B\x00", 3));
        QCOMPARE(rig.ctrl.replyNumber.load(), 1u);
        QCOMPARE(rig.ctrl.rxRequest.load(), uint8_t(0));
        QVERIFY(rig.ctrl.isRunning());
#ifdef __linux__
        // The worker was sent to the core this thread woke it from; it takes its turns there.
        const int core = sched_getcpu();
        rig.requestSend(QByteArray("B", 1));
        QVERIFY(eventually([&] { return rig.txDone(); }));
        const std::vector<int> cores = workerCores();
        QCOMPARE(cores.size(), size_t(1));
        QVERIFY2(cores.front() == core || cores.front() == sched_getcpu(),
                 qPrintable(QString("worker on core %1").arg(cores.front())));
#endif
    }

#ifdef __linux__
    // Once the worker has ended, its thread id may go to any thread of any process; waking a
    // stopped worker from every core must not pin that thread.
    void anEndedWorkersIdIsNeverMoved()
    {
        Rig rig;
        rig.ctrl.start();
        QVERIFY(eventually([] { return threadNamed("USB_BURN_CTRL") != 0; }));
        const int old = threadNamed("USB_BURN_CTRL");
        rig.ctrl.stopWorker();
        QFile lastId("/proc/sys/kernel/ns_last_pid");
        if (!lastId.open(QIODevice::WriteOnly) || lastId.write(QByteArray::number(old - 1)) <= 0)
            QSKIP("giving an id out again needs root");
        lastId.close();
        std::atomic<int> id{0};
        std::atomic<bool> done{false};
        std::thread other([&] {
            id = int(gettid());
            while (!done)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        QVERIFY(eventually([&] { return id != 0; }));
        cpu_set_t before, mine, after;
        sched_getaffinity(id, sizeof before, &before);
        sched_getaffinity(0, sizeof mine, &mine);
        for (int core = 0; id == old && core < CPU_SETSIZE; ++core) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(core, &one);
            if (CPU_ISSET(core, &mine) && sched_setaffinity(0, sizeof one, &one) == 0)
                rig.ctrl.wakeWorker();
        }
        sched_setaffinity(0, sizeof mine, &mine);
        sched_getaffinity(id, sizeof after, &after);
        done = true;
        other.join();
        if (id != old)
            QSKIP("another thread took the worker's id first");
        QVERIFY(CPU_EQUAL(&before, &after));
    }
#endif

    void zeroLengthPacketIsAReplyOfNoBytes()
    {
        Rig rig;
        rig.ctrl.rxLength = 99;
        rig.ctrl.start();
        rig.channel->queuePacket(QByteArray(""));
        rig.requestReceive(3);
        QVERIFY(eventually([&] { return rig.rxDone() == 1; }));
        QCOMPARE(rig.ctrl.rxLength.load(), 0);
        QVERIFY(rig.device.isOpen());
        QVERIFY(rig.ctrl.isRunning());
    }

    // Stop is raised while the write is in progress: a read asked for meanwhile still happens,
    // because it belongs to the same pass; only the next pass sees the stop.
    void receiveRequestedDuringWriteIsServedInTheSamePass()
    {
        Rig rig;
        rig.channel->holdWrites(true);
        rig.ctrl.start();
        rig.requestSend(QByteArray("F", 1));
        QVERIFY(eventually([&] { return rig.channel->inTransfer(); }));
        rig.ctrl.rxNumber.store(5);
        rig.ctrl.rxRequest.store(1);
        rig.ctrl.stopRequest.store(1);
        rig.channel->queuePacket(QByteArray("ok", 2));
        rig.channel->holdWrites(false);

        QVERIFY(rig.ended());
        QVERIFY(rig.txDone());
        QCOMPARE(rig.rxDone(), uint8_t(1));
        QCOMPARE(rig.reply(), QByteArray("ok"));
        QCOMPARE(rig.ctrl.replyNumber.load(), 5u);
        QCOMPARE(rig.ctrl.stopRequest.load(), uint8_t(0));
    }

    void failedWriteConfirmsSendAndEnds()
    {
        Rig rig;
        rig.channel->setFailWrites(true);
        rig.ctrl.start();
        rig.requestSend(QByteArray("G", 1));
        QVERIFY(eventually([&] { return rig.txDone(); }));
        QVERIFY(rig.ended());
        QCOMPARE(rig.ctrl.stopRequest.load(), uint8_t(0));
        QCOMPARE(rig.rxDone(), uint8_t(0));
        QVERIFY(!rig.device.isOpen());
    }

    void failedWriteWithReadPendingLosesDeviceAtOnce()
    {
        Rig rig;
        rig.channel->holdWrites(true);
        rig.channel->setFailWrites(true);
        rig.ctrl.start();
        rig.requestSend(QByteArray("G", 1));
        QVERIFY(eventually([&] { return rig.channel->inTransfer(); }));
        rig.ctrl.rxRequest.store(1);
        rig.channel->holdWrites(false);

        QVERIFY(rig.ended());
        QVERIFY(rig.txDone());
        QCOMPARE(rig.rxDone(), uint8_t(2));
        QCOMPARE(rig.channel->reads.load(), 0); // the closed device never reached the pipe
        QCOMPARE(rig.ctrl.stopRequest.load(), uint8_t(0));
    }

    void stopRaisedBeforeStartIsCleared()
    {
        Rig rig;
        rig.ctrl.stopRequest.store(1);
        rig.ctrl.start();
        rig.requestSend(QByteArray("K", 1));
        QVERIFY(eventually([&] { return rig.txDone(); }));
        QVERIFY(rig.ctrl.isRunning());
        QCOMPARE(rig.ctrl.stopRequest.load(), uint8_t(0));
    }

    // What the removal handling does when the open programmer is unplugged mid-read.
    void blockedReadIsEndedByClose()
    {
        Rig rig;
        rig.ctrl.start();
        rig.requestReceive(9);
        QVERIFY(eventually([&] { return rig.channel->inTransfer(); }));
        std::weak_ptr<FakeChannel> watched = rig.channel;
        rig.channel.reset();

        rig.device.close();
        QVERIFY(eventually([&] {
            rig.ctrl.stopRequest.store(1);
            return !rig.ctrl.isRunning();
        }));
        QCOMPARE(rig.rxDone(), uint8_t(2));
        QVERIFY(watched.expired());
        QCOMPARE(rig.transport->counters->released.load(), 1);
        QCOMPARE(rig.transport->counters->releasedDuringTransfer.load(), 0);
    }

    void lateReplyKeepsItsOwnNumber()
    {
        Rig rig;
        rig.ctrl.start();
        rig.requestReceive(20); // this transaction gives up before the reply comes
        QVERIFY(eventually([&] { return rig.channel->inTransfer(); }));
        rig.ctrl.rxNumber.store(21); // the next transaction has begun
        rig.channel->queuePacket(QByteArray("late", 4));
        QVERIFY(eventually([&] { return rig.rxDone() == 1; }));
        QCOMPARE(rig.ctrl.replyNumber.load(), 20u);

        rig.channel->queuePacket(QByteArray("own", 3));
        rig.requestReceive(21);
        QVERIFY(eventually([&] { return rig.rxDone() == 1; }));
        QCOMPARE(rig.ctrl.replyNumber.load(), 21u);
        QCOMPARE(rig.reply(), QByteArray("own"));
    }

    // What a transaction that gives up asks of the worker: the transfer of that request ends,
    // the device stays open, and the next request is served as usual.
    void givenUpTransfersEndAndTheWorkerGoesOn()
    {
        Rig rig;
        rig.ctrl.start();
        rig.requestReceive(7); // the board never answers it
        QVERIFY(eventually([&] { return rig.channel->inTransfer(); }));
        rig.ctrl.abortTransfer(7);
        QVERIFY(rig.finished(7, USB_BURN_CTRL::Aborted));
        QCOMPARE(rig.rxDone(), uint8_t(0)); // nothing is handed over for it

        rig.ctrl.abortTransfer(8); // given up before the worker reached it
        rig.requestReceive(8);
        QVERIFY(rig.finished(8, USB_BURN_CTRL::Aborted));
        QCOMPARE(rig.channel->reads.load(), 2);

        rig.channel->holdWrites(true); // the board NAKs the frame
        rig.requestSend(QByteArray("H", 1));
        const uint32_t held = rig.ctrl.txNumber.load();
        QVERIFY(eventually([&] { return rig.channel->inTransfer(); }));
        rig.ctrl.abortTransfer(held);
        QVERIFY(rig.finished(held, USB_BURN_CTRL::Aborted));
        QCOMPARE(rig.ctrl.sentNumber.load(), held);
        rig.channel->holdWrites(false);

        rig.channel->queuePacket(QByteArray("own", 3));
        rig.requestReceive(held + 1);
        QVERIFY(rig.finished(held + 1, USB_BURN_CTRL::Completed));
        QCOMPARE(rig.reply(), QByteArray("own"));
        QCOMPARE(rig.ctrl.replyNumber.load(), held + 1);
        QVERIFY(rig.device.isOpen());
        QVERIFY(rig.ctrl.isRunning());
        QCOMPARE(rig.channel->cancels.load(), 0);
    }

    // A frame and the read asked for with it, posted while the worker is busy, go out in that
    // order even when the worker looks at the read first.
    void readAskedForWithItsFrameWaitsForTheFrame()
    {
        Rig rig;
        rig.ctrl.betweenTransactions.store(0);
        rig.channel->holdWrites(true);
        rig.ctrl.start();
        rig.requestSend(QByteArray("first", 5));
        QVERIFY(eventually([&] { return rig.channel->inTransfer(); }));
        // Posted in the order a transaction posts them, while the first write is held: the
        // worker comes to the read in the same pass as that write, before the frame.
        rig.requestSend(QByteArray("second", 6));
        const uint32_t read = rig.nextNumber();
        rig.requestReceive(read);
        rig.channel->answerNextFrame(QByteArray("own", 3));
        rig.channel->holdWrites(false);
        QVERIFY(eventually([&] { return rig.rxDone() == 1; }));
        QCOMPARE(rig.reply(), QByteArray("own"));
        QCOMPARE(rig.channel->transferOrder(), std::string("WWR"));
        // The channel heard of the read with the second frame, so it could ask for it early.
        QCOMPARE(rig.channel->expectedReads(), std::vector<uint32_t>{read});
    }

    // Replies to frames given up on are read and dropped before the next frame goes out.
    void drainDropsWhatTheBoardStillSendsBeforeTheNextFrame()
    {
        Rig rig;
        rig.ctrl.owedReplies.store(USB_BURN_CTRL::owedMarkerBit('Y'));
        rig.channel->queuePacket(QByteArray("..Y progress", 12));
        rig.channel->queuePacket(QByteArray("..Y verdict", 11));
        rig.ctrl.betweenTransactions.store(0); // a transaction is under way: no idle listening
        rig.ctrl.start();
        rig.ctrl.drainRequest.store(1);
        rig.requestSend(QByteArray("next", 4));
        QVERIFY(eventually([&] { return rig.txDone(); }));
        QCOMPARE(rig.channel->reads.load(), 3); // two packets and the quiet read that ends it
        QCOMPARE(rig.channel->writtenBytes(), QByteArray("next"));
        QCOMPARE(rig.ctrl.owedReplies.load(), uint64_t(0));

        rig.channel->queuePacket(QByteArray("own", 3));
        rig.requestReceive(rig.nextNumber());
        QVERIFY(eventually([&] { return rig.rxDone() == 1; }));
        QCOMPARE(rig.reply(), QByteArray("own"));
    }

    void destructorEndsPendingReadAndStopsWorker()
    {
        auto transport = std::make_shared<FakeTransport>();
        transport->plug(kPath);
        UsbDevice device(transport);
        QVERIFY(device.open(kPath));
        auto *ctrl = new USB_BURN_CTRL;
        ctrl->device = &device;
        ctrl->start();
        ctrl->rxRequest.store(1);
        ctrl->wakeWorker();
        {
            const std::shared_ptr<FakeChannel> channel = transport->channel();
            QVERIFY(channel);
            QVERIFY(eventually([&] { return channel->inTransfer(); }));
        } // the channel is released only when nothing holds it any more

        delete ctrl; // a hang here is the fault; ctest's time-out reports it
        QVERIFY(!device.isOpen());
        QCOMPARE(transport->counters->released.load(), 1);
        QCOMPARE(transport->counters->releasedDuringTransfer.load(), 0);
    }

    void idleWorkerSleepsYetServesRequests()
    {
        Rig rig;
        rig.ctrl.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

        const std::clock_t cpuBefore = std::clock();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        const double cpuMs = 1000.0 * double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        const double wallMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallBefore)
                .count();
        // A spinning or polling worker would use a good share of it.
        QVERIFY2(
            cpuMs < wallMs / 20,
            qPrintable(QString("idle worker used %1 ms of CPU in %2 ms").arg(cpuMs).arg(wallMs)));

        rig.requestSend(QByteArray("A", 1));
        QVERIFY(eventually([&] { return rig.txDone(); }, 1000));
        rig.channel->queuePacket(QByteArray("r", 1));
        rig.requestReceive(2);
        QVERIFY(eventually([&] { return rig.rxDone() == 1; }, 1000));
    }
};

QTEST_GUILESS_MAIN(BurnCtrlTest)
#include "test_burn_ctrl.moc"
