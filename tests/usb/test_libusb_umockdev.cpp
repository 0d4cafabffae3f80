// The libusb transport over an emulated kernel: enumeration, open, pipes, transfers, a read
// ended by close or by unplug, and hot-plug news, all through the real libusb code path.

#include "MockUsbBus.h"

#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QtTest>

#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>

namespace
{

QString pathAt(int address)
{
    return QString("usb:1-%1/vid_5a17&pid_c0d2").arg(address);
}

struct Events {
    void add(bool arrived, const QString &name)
    {
        std::lock_guard<std::mutex> lock(mutex);
        seen.append((arrived ? "+" : "-") + name);
    }
    QStringList all()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }
    std::mutex mutex;
    QStringList seen;
};

std::future<int> readInBackground(UsbDevice &device)
{
    return std::async(std::launch::async, [&device] {
        uint8_t buffer[UsbDevice::kReadSize];
        return device.read(buffer);
    });
}

} // namespace

class LibusbUmockdevTest : public QObject
{
    Q_OBJECT

private slots:
    void findsOpensAndExchanges()
    {
        MockUsbBus bus;
        const int address = bus.plugProgrammer();
        auto transport = zq::usb::makeLibusbTransport();
        QCOMPARE(transport->findProgrammers(), QStringList{pathAt(address)});

        UsbDevice device(transport);
        QVERIFY(device.open(pathAt(address)));
        QCOMPARE(device.speed(), uint8_t(3));
        QCOMPARE(device.inPipe(), uint8_t(0x81));
        QCOMPARE(device.outPipe(), uint8_t(0x01));

        const uint8_t frame[5] = {0xAA, 0x55, 'K', 'Z', 'Q'};
        uint8_t reply[UsbDevice::kReadSize];
        QCOMPARE(device.write(frame, 5), 1);
        QCOMPARE(device.read(reply), 5);
        QCOMPARE(reply[2], uint8_t('K'));
        QCOMPARE(device.write(frame, 0), 1);
        QCOMPARE(device.read(reply), 0); // zero-length packet
        QVERIFY(device.isOpen());
        QCOMPARE(device.close(), 1);
    }

    // A read asked for with its frame is under way before the frame's write has ended. It is
    // only the pipe's next packet asked for early: a read with another ticket (a drain, or the
    // next transaction after the read was withdrawn) gets what it brought, nothing is lost or
    // taken twice, and an abort by the read's own ticket before it starts keeps it from starting.
    void readAskedForWithItsFrame()
    {
        MockUsbBus bus;
        const int address = bus.plugProgrammer();
        UsbDevice device(zq::usb::makeLibusbTransport());
        QVERIFY(device.open(pathAt(address)));
        const auto quick = [](uint32_t number) {
            return zq::usb::TransferTicket{number, std::chrono::milliseconds(200)};
        };
        uint8_t reply[UsbDevice::kReadSize];
        const uint8_t first[3] = {0xAA, 0x55, 'A'};
        const uint8_t second[4] = {0xAA, 0x55, 'B', 'b'};

        QCOMPARE(device.write(first, 3, quick(1), quick(2)), 1);
        QCOMPARE(device.read(reply, quick(2)), 3);
        QCOMPARE(reply[2], uint8_t('A'));

        // Read 4 withdrawn: a drain's read takes its packet, and then the pipe is empty.
        QCOMPARE(device.write(second, 4, quick(3), quick(4)), 1);
        QCOMPARE(device.read(reply, quick(0)), 4);
        QCOMPARE(reply[3], uint8_t('b'));
        QCOMPARE(device.read(reply, quick(0)), int(zq::usb::kTransferAborted));

        // Read 6 given up before its frame went out: no early read, the echo waits in the pipe.
        device.abortTransfer(6);
        QCOMPARE(device.write(first, 3, quick(5), quick(6)), 1);
        QCOMPARE(device.read(reply, quick(6)), int(zq::usb::kTransferAborted));
        QCOMPARE(device.read(reply, quick(7)), 3);
        QCOMPARE(reply[2], uint8_t('A'));
        QVERIFY(device.isOpen());

        // Closed with an early read whose packet nobody took.
        QCOMPARE(device.write(second, 4, quick(8), quick(9)), 1);
        QCOMPARE(device.close(), 1);
        QVERIFY(device.open(pathAt(address)));
        QCOMPARE(device.write(first, 3, quick(10), quick(11)), 1);
        QCOMPARE(device.read(reply, quick(11)), 3);
    }

    void closeEndsAReadTheBoardNeverAnswers()
    {
        MockUsbBus bus;
        const int address = bus.plugProgrammer();
        auto transport = zq::usb::makeLibusbTransport();
        UsbDevice device(transport);
        QVERIFY(device.open(pathAt(address)));

        std::future<int> pending = readInBackground(device);
        QCOMPARE(pending.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        QCOMPARE(device.close(), 1);
        QCOMPARE(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(pending.get(), -1);

        // The board is still there and opens again.
        QVERIFY(device.open(pathAt(address)));
        const uint8_t frame[1] = {0x41};
        uint8_t reply[UsbDevice::kReadSize];
        QCOMPARE(device.write(frame, 1), 1);
        QCOMPARE(device.read(reply), 1);
    }

    void unplugEndsReadAndIsReportedAndTheSamePortKeepsThePath()
    {
        MockUsbBus bus;
        auto transport = zq::usb::makeLibusbTransport();
        Events events;
        transport->setDeviceListener(
            [&](bool arrived, const QString &name) { events.add(arrived, name); });
        const int address = bus.plugProgrammer();
        const QString path = pathAt(address);
        QTRY_COMPARE_WITH_TIMEOUT(events.all(), QStringList{"+" + path}, 5000);

        UsbDevice device(transport);
        QVERIFY(device.open(path));
        std::future<int> pending = readInBackground(device);
        QCOMPARE(pending.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
        bus.unplug(address);
        QCOMPARE(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(pending.get(), -1);
        QVERIFY(!device.isOpen());
        QTRY_COMPARE_WITH_TIMEOUT(events.all(), (QStringList{"+" + path, "-" + path}), 5000);
        QVERIFY(transport->findProgrammers().isEmpty());
        QVERIFY(!device.open(path));

        // Put back into the same port it comes at a new address, under the same path.
        const int again = bus.plugProgrammerAtPort(address);
        QVERIFY(again != address);
        QTRY_COMPARE_WITH_TIMEOUT(events.all(), (QStringList{"+" + path, "-" + path, "+" + path}),
                                  5000);
        QCOMPARE(transport->findProgrammers(), QStringList{path});
        QVERIFY(device.open(path));
        transport->setDeviceListener(nullptr);
    }
};

int main(int argc, char **argv)
{
    if (!MockUsbBus::ensurePreloaded(argv)) {
        std::puts("SKIP: libumockdev-preload.so.0 could not be preloaded");
        return 77;
    }
    QCoreApplication app(argc, argv);
    LibusbUmockdevTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_libusb_umockdev.moc"
