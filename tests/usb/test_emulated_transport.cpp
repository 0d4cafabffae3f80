#include "BoardTalk.h"
#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QtTest>

#include <chrono>
#include <future>
#include <mutex>

namespace
{

using zq::emu::EmulatedBus;

struct Events {
    void add(bool arrived, const QString &path)
    {
        std::lock_guard<std::mutex> lock(mutex);
        seen.append((arrived ? "+" : "-") + path);
    }
    QStringList taken()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(seen, {});
    }
    std::mutex mutex;
    QStringList seen;
};

} // namespace

class EmulatedTransportTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { EmulatedBus::instance().unplugAll(); }
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void listsOpensAndTalksToAPluggedBoard()
    {
        auto transport = zq::usb::makeEmulatedTransport();
        QVERIFY(transport->findProgrammers().isEmpty());
        const QString first = EmulatedBus::instance().plug(std::make_shared<zq::emu::Board>());
        const QString second = EmulatedBus::instance().plug(std::make_shared<zq::emu::Board>());
        QCOMPARE(transport->findProgrammers(), (QStringList{first, second}));
        QVERIFY(first.contains("vid_5a17&pid_c0d2"));

        UsbDevice device(transport);
        QVERIFY(device.open(second));
        QCOMPARE(device.speed(), uint8_t(3));
        QCOMPARE(device.inPipe(), uint8_t(0x81));
        QCOMPARE(device.outPipe(), uint8_t(0x01));

        // CMD_CONNECT: the one frame every board answers whatever it is doing.
        const std::vector<uint8_t> frame = emutest::connectFrame();
        QCOMPARE(device.write(frame.data(), int32_t(frame.size())), 1);
        uint8_t reply[UsbDevice::kReadSize];
        QCOMPARE(device.read(reply), 36);
        QVERIFY(QByteArray(";[+").contains(char(reply[2])));
    }

    void unplugEndsPendingReadAndFailsLaterOpens()
    {
        auto transport = zq::usb::makeEmulatedTransport();
        const QString path = EmulatedBus::instance().plug(std::make_shared<zq::emu::Board>());
        UsbDevice device(transport);
        QVERIFY(device.open(path));

        auto pending = std::async(std::launch::async, [&] {
            uint8_t reply[UsbDevice::kReadSize];
            return device.read(reply); // nothing was asked: only the unplug ends it
        });
        QCOMPARE(pending.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
        EmulatedBus::instance().unplug(path);
        QCOMPARE(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(pending.get(), -1);
        QVERIFY(!device.isOpen());
        QCOMPARE(device.devicePath(), path);

        zq::usb::OpenError error = zq::usb::OpenError::None;
        QVERIFY(!transport->openChannel(path, &error));
        QCOMPARE(error, zq::usb::OpenError::NotFound);
        QVERIFY(!device.open(path));
    }

    void reportsPlugAndUnplugUntilTheListenerIsRemoved()
    {
        auto transport = zq::usb::makeEmulatedTransport();
        Events events;
        transport->setDeviceListener(
            [&](bool arrived, const QString &name) { events.add(arrived, name); });
        const QString path = EmulatedBus::instance().plug(std::make_shared<zq::emu::Board>());
        EmulatedBus::instance().unplug(path);
        QCOMPARE(events.taken(), (QStringList{"+" + path, "-" + path}));

        transport->setDeviceListener(nullptr);
        EmulatedBus::instance().unplug(
            EmulatedBus::instance().plug(std::make_shared<zq::emu::Board>()));
        QVERIFY(events.taken().isEmpty());

        transport->setDeviceListener(
            [&](bool arrived, const QString &name) { events.add(arrived, name); });
        transport.reset();
        EmulatedBus::instance().plug(std::make_shared<zq::emu::Board>());
        QVERIFY(events.taken().isEmpty());
    }
};

QTEST_GUILESS_MAIN(EmulatedTransportTest)
#include "test_emulated_transport.moc"
