#include "FakeUsb.h"
#include "UsbBurnCtrl.h"
#include "UsbDevice.h"

#include <QtTest>

#include <chrono>
#include <ctime>
#include <functional>
#include <thread>

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
        ctrl.txRequest.store(1, std::memory_order_release);
    }
    void requestReceive(uint32_t number)
    {
        ctrl.txDone.store(0, std::memory_order_release);
        ctrl.rxDone.store(0, std::memory_order_release);
        ctrl.requestNumber.store(number, std::memory_order_release);
        ctrl.rxRequest.store(1, std::memory_order_release);
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
};

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
    }

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
        rig.ctrl.requestNumber.store(5);
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
        rig.ctrl.requestNumber.store(21); // the next transaction has begun
        rig.channel->queuePacket(QByteArray("late", 4));
        QVERIFY(eventually([&] { return rig.rxDone() == 1; }));
        QCOMPARE(rig.ctrl.replyNumber.load(), 20u);

        rig.channel->queuePacket(QByteArray("own", 3));
        rig.requestReceive(21);
        QVERIFY(eventually([&] { return rig.rxDone() == 1; }));
        QCOMPARE(rig.ctrl.replyNumber.load(), 21u);
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
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // past the spinning phase

        const std::clock_t cpuBefore = std::clock();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        const double cpuMs = 1000.0 * double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        const double wallMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallBefore)
                .count();
        // A spinning worker would use about all of it.
        QVERIFY2(
            cpuMs < wallMs / 2,
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
