// A board's state folder: what one run writes, the next run sees.
#include "BadFiles.h"
#include "BoardTalk.h"
#include "TestFiles.h"

#include "emulator/Board.h"
#include "emulator/StateFolder.h"

#include <QtTest>

using namespace emutest;
using zq::emu::Board;
using zq::emu::BoardIdentity;
using zq::emu::BoardMode;
using zq::emu::EmulatedBus;
using zq::emu::TargetConfig;
using zq::test::NodeKind;

namespace
{

} // namespace

class StateFolderTest : public QObject
{
    Q_OBJECT

    EmulatedBus &bus = EmulatedBus::instance();

    void talk(const std::shared_ptr<Board> &board, const QList<Bytes> &frames)
    {
        const auto link = bus.open(bus.plug(board));
        for (const Bytes &frame : frames)
            QVERIFY(roundTrip(*link, frame));
        bus.unplugAll();
    }

private slots:
    void cleanup() { bus.unplugAll(); }

    void whatOneRunWritesTheNextSees()
    {
        QTemporaryDir dir;
        BoardIdentity identity;
        identity.mode = BoardMode::McuUpdate;
        identity.boardMcu = 0x01020304;
        identity.boardId = 0xA0B0C0D0;
        identity.flashId = 0xC84017;
        TargetConfig target;
        target.targetId = 0x5A3C6050;
        target.flashSize = 128 * 1024;
        auto first = std::make_shared<Board>(identity, target);
        Bytes app = pattern(5000, 1);
        app[4096] = 0x31;
        app[4097] = 0x02;
        app[4098] = 0x03;
        const Bytes code = pattern(3000, 2);
        const Bytes message = pattern(512, 3);
        talk(first, {blockFrame('H', 0x10000, code), blockFrame('H', 0, message),
                     swdInitFrame(false), blockFrame('F', 0x800, code),
                     blockFrame('J', 0, Bytes(app.begin(), app.begin() + 4096)),
                     blockFrame('J', 4096, Bytes(app.begin() + 4096, app.end())),
                     checkFrame('L', 0, 5000, crcOf(app))});
        QVERIFY(first->saveState(dir.path()));
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::Files),
            QStringList({"app.bin", "board.ini", "boot.bin", "spi-flash.bin", "target-flash.bin"}));
        QVERIFY(readAll(dir.filePath("board.ini")).contains("mode=mcu-update\n"));
        QCOMPARE(readAll(dir.filePath("spi-flash.bin")).size(), 0x10000 + 3000);

        const auto second = Board::fromStateFolder(dir.path());
        const BoardIdentity seen = second->identity();
        QCOMPARE(int(seen.mode), int(BoardMode::McuUpdate));
        QCOMPARE(seen.appVersion, 0x20310203u);
        QCOMPARE(seen.bootVersion, identity.bootVersion);
        QCOMPARE(seen.boardMcu, identity.boardMcu);
        QCOMPARE(seen.boardId, identity.boardId);
        QCOMPARE(seen.flashId, identity.flashId);
        QCOMPARE(second->targetConfig().targetId, target.targetId);
        QCOMPARE(second->targetConfig().flashSize, target.flashSize);
        QVERIFY(second->readSpiFlash(0x10000, 3000) == code);
        QVERIFY(second->readSpiFlash(0, 512) == message);
        QCOMPARE(second->readSpiFlash(0x20000, 4), Bytes(4, 0xFF));
        QVERIFY(second->readTargetFlash(0x800, 3000) == code);
        QVERIFY(second->appImage() == app);
        QVERIFY(second->bootImage().empty());

        // The next run checks what the first one stored, over the bus.
        const auto link = bus.open(bus.plug(second));
        const auto reply = roundTrip(*link, checkFrame('I', 0x10000, 3000, crcOf(code)));
        QVERIFY(reply && (*reply)[8] == 0);
    }

    void savingAgainReplacesTheFiles()
    {
        QTemporaryDir dir;
        auto board = std::make_shared<Board>();
        talk(board, {blockFrame('H', 0x1000, Bytes(100, 0))});
        QVERIFY(board->saveState(dir.path()));
        QCOMPARE(readAll(dir.filePath("spi-flash.bin")).size(), 0x1000 + 100);
        talk(board, {blockFrame('H', 0x1000, Bytes(100, 0xFF))});
        board->enterMode(BoardMode::BootUpdate);
        QVERIFY(board->saveState(dir.path()));
        QCOMPARE(readAll(dir.filePath("spi-flash.bin")).size(), 0);
        QVERIFY(readAll(dir.filePath("board.ini")).contains("mode=boot-update\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 5); // no temporary left over
    }

    void missingFolderOrBadValuesKeepTheDefaults()
    {
        QTemporaryDir dir;
        const QString absent = dir.filePath("not-there");
        auto board = std::make_shared<Board>();
        BoardIdentity custom;
        custom.boardId = 77;
        board->setIdentity(custom);
        QVERIFY(!board->loadState(absent));
        QCOMPARE(board->identity().boardId, 77u);
        QCOMPARE(Board::fromStateFolder(absent)->identity().boardId, BoardIdentity().boardId);

        QVERIFY(writeAll(dir.filePath("board.ini"),
                         "mode=sideways\nboard_id=0x10\nflash_id=banana\n"
                         "target_flash_size=0\n# a note\nunknown=1\n"
                         "board_mcu = 12 \n"));
        const auto loaded = Board::fromStateFolder(dir.path());
        QCOMPARE(int(loaded->identity().mode), int(BoardMode::Normal));
        QCOMPARE(loaded->identity().boardId, 0x10u);
        QCOMPARE(loaded->identity().boardMcu, 12u);
        QCOMPARE(loaded->identity().flashId, BoardIdentity().flashId);
        QCOMPARE(loaded->targetConfig().flashSize, TargetConfig().flashSize);
        QCOMPARE(loaded->readSpiFlash(0, 2), Bytes(2, 0xFF));
        QCOMPARE(loaded->blockWriteMs(), 0);

        // The board-like block write time: kept on save, a value past the host's wait ignored.
        QVERIFY(writeAll(dir.filePath("board.ini"), "block_write_ms=5\n"));
        const auto slow = Board::fromStateFolder(dir.path());
        QCOMPARE(slow->blockWriteMs(), 5);
        QVERIFY(slow->saveState(dir.path()));
        QCOMPARE(Board::fromStateFolder(dir.path())->blockWriteMs(), 5);
        QVERIFY(writeAll(dir.filePath("board.ini"), "block_write_ms=5000\n"));
        QCOMPARE(Board::fromStateFolder(dir.path())->blockWriteMs(), 0);
    }

    void aLinkToANodeIsNeverReplaced_data() { zq::test::addLinkedNodeRows(); }

    // Each state file, and the lock, in turn a link to the node: the save or the lock fails.
    void aLinkToANodeIsNeverReplaced()
    {
        QFETCH(NodeKind, kind);
        if (!zq::test::mayMakeNode(kind))
            QSKIP("only root may make a device node");
        for (const char *name :
             {"spi-flash.bin", "target-flash.bin", "app.bin", "boot.bin", "board.ini", ".lock"}) {
            QTemporaryDir dir;
            const QString link = zq::test::makeLinkToNode(kind, dir.path(), name);
            bool busy = false;
            QString error;
            QVERIFY2(!Board().saveState(dir.path()) ||
                         !zq::emu::StateFolderLock::take(dir.path(), &busy, &error),
                     name);
            QVERIFY2(zq::test::linkedNodeIntact(kind, link), name);
        }
    }
};

QTEST_GUILESS_MAIN(StateFolderTest)
#include "test_state_folder.moc"
