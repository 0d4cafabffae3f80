// Each fault switch, armed for the next frame, the n-th frame or every frame, per command.
#include "BoardTalk.h"

#include "emulator/Board.h"

#include <QtTest>

using namespace emutest;
using zq::emu::Board;
using zq::emu::EmulatedBus;
using zq::emu::Fault;
using zq::emu::FaultKind;

class FaultsTest : public QObject
{
    Q_OBJECT

    EmulatedBus &bus = EmulatedBus::instance();
    std::shared_ptr<Board> board;
    QString path;
    std::shared_ptr<zq::emu::BoardLink> link;

    zq::emu::Faults &faults() { return bus.board(path)->faults(); }

    static bool wellFormed(const std::optional<Bytes> &reply, size_t length, uint8_t marker)
    {
        return reply && reply->size() == length && (*reply)[2] == marker && crcHolds(*reply);
    }
    bool connectIsClean() { return wellFormed(roundTrip(*link, connectFrame()), 36, ';'); }

private slots:
    void init()
    {
        board = std::make_shared<Board>();
        path = bus.plug(board);
        link = bus.open(path);
    }

    void cleanup()
    {
        link.reset();
        bus.unplugAll();
    }

    void noReplyLosesTheReplyButNotTheCommand()
    {
        faults().arm(Fault::next(FaultKind::NoReply));
        QVERIFY(send(*link, blockFrame('H', 0x100, Bytes(8, 0x11))));
        // Replies keep their order: the first one read belongs to the frame after.
        QVERIFY(wellFormed(roundTrip(*link, connectFrame()), 36, ';'));
        QCOMPARE(board->readSpiFlash(0x100, 8), Bytes(8, 0x11));
        QCOMPARE(faults().armedCount(), 0);
    }

    void damagedRepliesKeepTheirOtherParts()
    {
        faults().arm(Fault::next(FaultKind::WrongLength));
        const auto shortReply = roundTrip(*link, connectFrame());
        QVERIFY(shortReply && shortReply->size() == 35 && (*shortReply)[2] == ';');

        faults().arm(Fault::next(FaultKind::WrongMarker));
        const auto marked = roundTrip(*link, checkFrame('I', 0, 16, 0));
        QVERIFY(wellFormed(marked, 13, 'Y' + 1));

        faults().arm(Fault::next(FaultKind::BadReplyCrc));
        const auto broken = roundTrip(*link, checkFrame('I', 0, 16, 0));
        QVERIFY(broken && broken->size() == 13 && (*broken)[2] == 'Y' && !crcHolds(*broken));

        faults().arm(Fault::next(FaultKind::FailingStatus));
        const auto init = roundTrip(*link, swdInitFrame(false));
        QVERIFY(wellFormed(init, 13, 'Q'));
        QCOMPARE(int((*init)[7]), 1);
        QVERIFY(connectIsClean());
    }

    void failingStatusHitsTheVerdictNotTheProgress()
    {
        const Bytes erased(128 * 1024, 0xFF);
        faults().arm(Fault::next(FaultKind::FailingStatus));
        QVERIFY(send(*link, checkFrame('I', 0, uint32_t(erased.size()), crcOf(erased))));
        for (int k = 1; k <= 2; ++k) {
            const auto progress = readReply(*link);
            QVERIFY(wellFormed(progress, 13, 'Y'));
            QCOMPARE(int((*progress)[8]), 1);
        }
        const auto verdict = readReply(*link);
        QVERIFY(wellFormed(verdict, 13, 'Y'));
        QCOMPARE(int((*verdict)[8]), 2);
        QCOMPARE(bigEndian(*verdict, 4), crcOf(erased));
    }

    void nthFrameFromNowIsHit()
    {
        faults().arm(Fault::nth(FaultKind::BadReplyCrc, 3));
        QVERIFY(connectIsClean());
        QVERIFY(connectIsClean());
        const auto third = roundTrip(*link, connectFrame());
        QVERIFY(third && third->size() == 36 && !crcHolds(*third));
        QVERIFY(connectIsClean());
    }

    void everyFrameOfOneCommandIsHitUntilDisarmed()
    {
        const int id = faults().arm(Fault::every(FaultKind::WrongMarker).onCommand('H'));
        // Frames of other commands neither fire the switch nor count against it.
        QVERIFY(connectIsClean());
        for (int k = 0; k < 3; ++k)
            QVERIFY(wellFormed(roundTrip(*link, blockFrame('H', 0, Bytes(4, 0))), 13, 'X' + 1));
        QVERIFY(connectIsClean());
        faults().disarm(id);
        QVERIFY(wellFormed(roundTrip(*link, blockFrame('H', 0, Bytes(4, 0))), 13, 'X'));
    }

    void nthCountsOnlyFramesOfItsCommand()
    {
        faults().arm(Fault::nth(FaultKind::WrongLength, 2).onCommand('H'));
        QVERIFY(wellFormed(roundTrip(*link, blockFrame('H', 0, Bytes(4, 0))), 13, 'X'));
        QVERIFY(connectIsClean());
        QVERIFY(connectIsClean());
        const auto second = roundTrip(*link, blockFrame('H', 0, Bytes(4, 0)));
        QVERIFY(second && second->size() == 12);
    }

    void lateReplyIsNotEarlyAndStaysAheadOfLaterReplies()
    {
        faults().arm(Fault::next(FaultKind::LateReply).withDelay(200));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(send(*link, connectFrame()));
        QVERIFY(send(*link, checkFrame('I', 0, 16, 0)));
        QVERIFY(wellFormed(readReply(*link, 5000), 36, ';'));
        QVERIFY(clock.elapsed() >= 200);
        QVERIFY(wellFormed(readReply(*link, 5000), 13, 'Y'));
    }

    void latencyDelaysEveryReplyPacket()
    {
        faults().arm(Fault::latency(40));
        QElapsedTimer clock;
        clock.start();
        const Bytes erased(128 * 1024, 0xFF);
        QVERIFY(send(*link, checkFrame('I', 0, uint32_t(erased.size()), crcOf(erased))));
        for (int k = 0; k < 3; ++k)
            QVERIFY(wellFormed(readReply(*link, 5000), 13, 'Y'));
        QVERIFY(clock.elapsed() >= 3 * 40);
        clock.restart();
        QVERIFY(connectIsClean());
        QVERIFY(clock.elapsed() >= 40);
    }

    void boardGoneDropsOffTheBus()
    {
        std::atomic<bool> removed{false};
        const int id = bus.addListener([this, &removed](bool arrived, const QString &gone) {
            if (!arrived && gone == path)
                removed = true;
        });
        const auto other = bus.open(path);
        faults().arm(Fault::next(FaultKind::BoardGone).onCommand('J'));
        QVERIFY(connectIsClean());
        QVERIFY(!send(*link, blockFrame('J', 0, Bytes(16, 0))));
        QVERIFY(!send(*link, connectFrame()));
        QVERIFY(board->appImage().empty() && board->bootImage().empty());
        QTRY_VERIFY_WITH_TIMEOUT(removed.load(), 5000);
        QVERIFY(!bus.paths().contains(path));
        QVERIFY(!send(*other, connectFrame()));
        bus.removeListener(id);
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "test_faults.moc"
