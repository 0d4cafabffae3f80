#include "FakeUsb.h"
#include "usb/UsbDevice.h"

#include <QtTest>

#include <chrono>
#include <future>

using zq::usb::OpenError;

namespace
{
const QString kFirst = QStringLiteral("usb:001-004/vid_5a17&pid_c0d2");
const QString kSecond = QStringLiteral("usb:001-007/vid_5a17&pid_c0d2");
constexpr auto kGenerous = std::chrono::seconds(5);
} // namespace

class UsbDeviceTest : public QObject
{
    Q_OBJECT

private slots:
    void openTakesPipesAndKeepsPathAcrossFailures()
    {
        auto transport = std::make_shared<FakeTransport>();
        UsbDevice device(transport);
        QVERIFY(!device.isOpen());
        QCOMPARE(device.speed(), uint8_t(2));
        QVERIFY(device.devicePath().isEmpty());

        QVERIFY(!device.open(kFirst)); // not plugged
        QVERIFY(!device.isOpen());
        QVERIFY(device.devicePath().isEmpty());

        transport->plug(kFirst, {1, 0x83, 0x02});
        QVERIFY(device.open(kFirst));
        QVERIFY(device.isOpen());
        QCOMPARE(device.speed(), uint8_t(1));
        QCOMPARE(device.inPipe(), uint8_t(0x83));
        QCOMPARE(device.outPipe(), uint8_t(0x02));
        QCOMPARE(device.devicePath(), kFirst);

        transport->refuse(kSecond, OpenError::Permission);
        QVERIFY(!device.open(kSecond));
        QVERIFY(!device.isOpen());
        QCOMPARE(device.devicePath(), kFirst);
        // Reopening let go of the first channel, and only once.
        QCOMPARE(transport->counters->released.load(), 1);
    }

    void closeIsAlwaysOneAndReleasesOnce()
    {
        auto transport = std::make_shared<FakeTransport>();
        UsbDevice device(transport);
        QCOMPARE(device.close(), 1); // never opened
        QCOMPARE(device.close(), 1);
        QVERIFY(!device.isOpen());

        transport->plug(kFirst);
        QVERIFY(device.open(kFirst));
        QCOMPARE(device.close(), 1);
        QVERIFY(!device.isOpen());
        QCOMPARE(device.close(), 1);
        QCOMPARE(transport->counters->released.load(), 1);
        QCOMPARE(device.devicePath(), kFirst);

        const uint8_t frame[4] = {1, 2, 3, 4};
        uint8_t buffer[UsbDevice::kReadSize];
        QCOMPARE(device.write(frame, 4), -1);
        QCOMPARE(device.read(buffer), -1);
        QCOMPARE(transport->opens, 1);
    }

    void failedWriteClosesAndNextReadFailsAtOnce()
    {
        auto transport = std::make_shared<FakeTransport>();
        transport->plug(kFirst);
        UsbDevice device(transport);
        QVERIFY(device.open(kFirst));
        std::shared_ptr<FakeChannel> channel = transport->channel();
        channel->setFailWrites(true);

        const uint8_t frame[3] = {0xA5, 0x5A, 0x01};
        QCOMPARE(device.write(frame, 3), -1);
        QVERIFY(!device.isOpen());
        QCOMPARE(channel->writtenBytes(), QByteArray("\xA5\x5A\x01", 3));

        uint8_t buffer[UsbDevice::kReadSize];
        channel->queuePacket("late");
        QCOMPARE(device.read(buffer), -1);
        QCOMPARE(channel->reads.load(), 0);

        channel.reset();
        QCOMPARE(transport->counters->released.load(), 1);
        QCOMPARE(device.devicePath(), kFirst);
    }

    void readDeliversOnePacketOfAtMost512()
    {
        auto transport = std::make_shared<FakeTransport>();
        transport->plug(kFirst);
        UsbDevice device(transport);
        QVERIFY(device.open(kFirst));
        std::shared_ptr<FakeChannel> channel = transport->channel();
        uint8_t buffer[UsbDevice::kReadSize + 16];
        std::fill(std::begin(buffer), std::end(buffer), uint8_t(0xEE));

        channel->queuePacket(QByteArray("\x01\x02\x03", 3));
        QCOMPARE(device.read(buffer), 3);
        QCOMPARE(buffer[2], uint8_t(3));
        QCOMPARE(channel->lastReadCapacity.load(), 512);

        channel->queuePacket(QByteArray("")); // zero-length packet
        QCOMPARE(device.read(buffer), 0);
        QVERIFY(device.isOpen());

        channel->queuePacket(QByteArray(600, '\x11'));
        QCOMPARE(device.read(buffer), 512);
        QCOMPARE(buffer[512], uint8_t(0xEE));

        channel->queueReadFailure();
        QCOMPARE(device.read(buffer), -1);
        QVERIFY(!device.isOpen());
    }

    void closeEndsPendingTransferBeforeRelease_data()
    {
        QTest::addColumn<bool>("reading");
        QTest::newRow("read") << true;
        QTest::newRow("write") << false;
    }

    void closeEndsPendingTransferBeforeRelease()
    {
        QFETCH(bool, reading);
        auto transport = std::make_shared<FakeTransport>();
        transport->plug(kFirst);
        UsbDevice device(transport);
        QVERIFY(device.open(kFirst));
        std::shared_ptr<FakeChannel> channel = transport->channel();
        channel->holdWrites(true);

        auto transfer = std::async(std::launch::async, [&] {
            uint8_t buffer[UsbDevice::kReadSize];
            const uint8_t frame[1] = {0x41};
            return reading ? device.read(buffer) : device.write(frame, 1);
        });
        QTRY_VERIFY_WITH_TIMEOUT(channel->inTransfer(), 5000);
        std::weak_ptr<FakeChannel> watched = channel;
        channel.reset();

        QCOMPARE(device.close(), 1);
        QVERIFY(!device.isOpen());
        QCOMPARE(transfer.wait_for(kGenerous), std::future_status::ready);
        QCOMPARE(transfer.get(), -1);
        QVERIFY(watched.expired());
        QCOMPARE(transport->counters->released.load(), 1);
        QCOMPARE(transport->counters->releasedDuringTransfer.load(), 0);
    }
};

QTEST_GUILESS_MAIN(UsbDeviceTest)
#include "test_usb_device.moc"
