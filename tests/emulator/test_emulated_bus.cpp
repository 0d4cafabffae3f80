// Plugging into ports, unplugging, ending blocked reads, and a board that restarts into its other
// program.
#include "BoardTalk.h"

#include "emulator/Board.h"

#include <QtTest>

#include <future>

using namespace emutest;
using zq::emu::Board;
using zq::emu::BoardIdentity;
using zq::emu::BoardMode;
using zq::emu::EmulatedBus;

namespace
{

struct BusEvent {
    bool arrived;
    QString path;
    bool listedWhenCalled;
};

// Records what listeners are told, from whichever thread tells them.
class EventLog
{
public:
    EventLog()
    {
        id_ = EmulatedBus::instance().addListener([this](bool arrived, const QString &path) {
            const bool listed = EmulatedBus::instance().paths().contains(path);
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back({arrived, path, listed});
        });
    }
    ~EventLog() { EmulatedBus::instance().removeListener(id_); }

    std::vector<BusEvent> events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    size_t count() const { return events().size(); }

private:
    int id_ = 0;
    mutable std::mutex mutex_;
    std::vector<BusEvent> events_;
};

BoardIdentity inMode(BoardMode mode)
{
    BoardIdentity identity;
    identity.mode = mode;
    return identity;
}

int portOf(const QString &path)
{
    return path.section(' ', 0, 0).section('-', 1).toInt();
}

} // namespace

class EmulatedBusTest : public QObject
{
    Q_OBJECT

    EmulatedBus &bus = EmulatedBus::instance();

    // Reads on another thread and returns how the read ended.
    static std::future<int> blockedRead(const std::shared_ptr<zq::emu::BoardLink> &link)
    {
        return std::async(std::launch::async, [link] {
            uint8_t buffer[512];
            return link->read(buffer, sizeof buffer);
        });
    }

private slots:
    void cleanup() { bus.unplugAll(); }

    void everyPlugGetsANewPathWithTheIdentity()
    {
        auto first = std::make_shared<Board>();
        auto second = std::make_shared<Board>();
        const QString a = bus.plug(first);
        const QString b = bus.plug(second);
        QVERIFY(a != b);
        QVERIFY(a.contains("vid_5a17&pid_c0d2"));
        QVERIFY(b.contains("vid_5a17&pid_c0d2"));
        QCOMPARE(bus.paths(), QStringList({a, b}));
        QCOMPARE(bus.board(a), first);
        QCOMPARE(bus.plug(first), a); // already plugged: stays where it is

        bus.unplug(a);
        QVERIFY(!bus.board(a));
        QVERIFY(!bus.open(a));
        const QString again = bus.plug(first);
        QVERIFY(again != a && again != b);
        QCOMPARE(bus.paths(), QStringList({b, again}));
        QVERIFY(!bus.plug(nullptr).size());
    }

    // The path names the port: a board put back into its port, or back from a restart, has its
    // old path; a port that a board holds, also while it is away restarting, takes no other.
    void aBoardKeepsThePathOfItsPort()
    {
        auto board = std::make_shared<Board>(inMode(BoardMode::McuUpdate));
        board->setRestartDelays(10, 300);
        const QString path = bus.plug(board, 40);
        QCOMPARE(path, QString("emu:1-40 vid_5a17&pid_c0d2"));
        const auto other = std::make_shared<Board>();
        QVERIFY(bus.plug(other, 40).isEmpty());
        QVERIFY(roundTrip(*bus.open(path), usbBootFrame(1)));
        QTRY_VERIFY_WITH_TIMEOUT(bus.paths().isEmpty(), 3000);
        QVERIFY(bus.plug(other, 40).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(bus.paths(), QStringList{path}, 3000);
        bus.unplug(path);
        QCOMPARE(bus.plug(board, 40), path);

        // A fresh board goes into the next port nobody holds.
        const int next = portOf(bus.plug(other)) + 1;
        QVERIFY(!bus.plug(std::make_shared<Board>(), next).isEmpty());
        QCOMPARE(portOf(bus.plug(std::make_shared<Board>())), next + 1);
    }

    void listenersHearChangesAfterTheyHappen()
    {
        EventLog log;
        const QString path = bus.plug(std::make_shared<Board>());
        bus.unplug(path);
        bus.unplug(path); // nothing left to unplug: no call
        const auto events = log.events();
        QCOMPARE(events.size(), size_t(2));
        QVERIFY(events[0].arrived && events[0].path == path && events[0].listedWhenCalled);
        QVERIFY(!events[1].arrived && events[1].path == path && !events[1].listedWhenCalled);

        int quiet = 0;
        const int id = bus.addListener([&quiet](bool, const QString &) { ++quiet; });
        bus.removeListener(id);
        bus.plug(std::make_shared<Board>());
        QCOMPARE(quiet, 0);
    }

    void cancelEndsABlockedRead()
    {
        const QString path = bus.plug(std::make_shared<Board>());
        const auto link = bus.open(path);
        auto reading = blockedRead(link);
        QCOMPARE(reading.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        link->cancel();
        QCOMPARE(reading.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(reading.get(), -1);
        QVERIFY(!send(*link, connectFrame()));
        link->cancel(); // idempotent

        // Only that link is dead; the board still answers on a new one.
        const auto fresh = bus.open(path);
        QVERIFY(roundTrip(*fresh, connectFrame()));
    }

    void unplugEndsABlockedRead()
    {
        const QString path = bus.plug(std::make_shared<Board>());
        const auto link = bus.open(path);
        auto reading = blockedRead(link);
        QCOMPARE(reading.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        bus.unplug(path);
        QCOMPARE(reading.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        QCOMPARE(reading.get(), -1);
        QVERIFY(!send(*link, connectFrame()));
        uint8_t buffer[16];
        QCOMPARE(link->read(buffer, sizeof buffer), -1);
    }

    void usbBootRestartsIntoTheOtherProgram_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("runMode");
        QTest::addColumn<int>("to");
        QTest::newRow("boot loader starts the application")
            << int(BoardMode::McuUpdate) << 1 << int(BoardMode::Normal);
        QTest::newRow("application starts the boot loader")
            << int(BoardMode::Normal) << 0 << int(BoardMode::McuUpdate);
        QTest::newRow("boot update starts the boot loader")
            << int(BoardMode::BootUpdate) << 0 << int(BoardMode::McuUpdate);
    }

    void usbBootRestartsIntoTheOtherProgram()
    {
        QFETCH(int, from);
        QFETCH(int, runMode);
        QFETCH(int, to);
        EventLog log;
        auto board = std::make_shared<Board>(inMode(BoardMode(from)));
        const QString oldPath = bus.plug(board);
        const auto link = bus.open(oldPath);

        const std::optional<Bytes> reply = roundTrip(*link, usbBootFrame(uint8_t(runMode)));
        QVERIFY(reply && reply->size() == 13 && (*reply)[2] == '_' && crcHolds(*reply));
        QCOMPARE(int((*reply)[8]), 0);

        QTRY_COMPARE_WITH_TIMEOUT(log.count(), size_t(3), 5000);
        const auto events = log.events();
        QVERIFY(!events[1].arrived && events[1].path == oldPath);
        QVERIFY(events[2].arrived && events[2].path == oldPath);
        QCOMPARE(bus.paths(), QStringList{oldPath});
        QCOMPARE(bus.board(oldPath), board);
        QVERIFY(!send(*link, connectFrame()));

        const std::optional<Bytes> connect = roundTrip(*bus.open(oldPath), connectFrame());
        QVERIFY(connect);
        QCOMPARE(int((*connect)[2]), to);
    }

    void restartWaitsForTheReplyToBeTakenThenForItsDelay()
    {
        auto board = std::make_shared<Board>(inMode(BoardMode::McuUpdate));
        board->setRestartDelays(300, 10);
        const QString path = bus.plug(board);
        const auto link = bus.open(path);
        QVERIFY(send(*link, usbBootFrame(1)));
        QTest::qWait(500);
        QCOMPARE(bus.paths(), QStringList{path});
        QElapsedTimer clock;
        clock.start();
        QVERIFY(readReply(*link));
        QTRY_VERIFY_WITH_TIMEOUT(!bus.paths().contains(path), 3000);
        QVERIFY(clock.elapsed() >= 300);
    }

    void restartHappensWhenTheHostGivesUpOnTheReply()
    {
        auto board = std::make_shared<Board>(inMode(BoardMode::McuUpdate));
        board->setRestartDelays(1, 1);
        const QString path = bus.plug(board);
        const auto link = bus.open(path);
        QVERIFY(send(*link, usbBootFrame(1)));
        link->cancel();
        QTRY_VERIFY_WITH_TIMEOUT(
            board->mode() == BoardMode::Normal && bus.paths() == QStringList{path}, 3000);
    }

    void unplugDuringARestartCallsItOff()
    {
        EventLog log;
        auto board = std::make_shared<Board>(inMode(BoardMode::McuUpdate));
        board->setRestartDelays(10, 500);
        const QString path = bus.plug(board);
        QVERIFY(roundTrip(*bus.open(path), usbBootFrame(1)));
        QTRY_COMPARE_WITH_TIMEOUT(log.count(), size_t(2), 3000); // plugged, then left
        bus.unplugAll();
        QTest::qWait(1500);
        QVERIFY(bus.paths().isEmpty());
        QCOMPARE(log.count(), size_t(2));
    }

    void usbBootWithAnUnknownRunModeStays()
    {
        auto board = std::make_shared<Board>(inMode(BoardMode::Normal));
        board->setRestartDelays(1, 1);
        const QString path = bus.plug(board);
        const auto link = bus.open(path);
        const std::optional<Bytes> reply = roundTrip(*link, usbBootFrame(7));
        QVERIFY(reply && crcHolds(*reply));
        QCOMPARE(int((*reply)[8]), 5);
        QTest::qWait(200);
        QCOMPARE(bus.paths(), QStringList{path});
        QCOMPARE(board->mode(), BoardMode::Normal);
    }
};

QTEST_GUILESS_MAIN(EmulatedBusTest)
#include "test_emulated_bus.moc"
