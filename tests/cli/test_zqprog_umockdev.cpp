// zqprog over the real libusb path, against a kernel emulated by umockdev with three
// programmers plugged in: each is listed with its port path and board id, and chosen by either.
#include "MockUsbBus.h"
#include "ZqprogRun.h"
#include "emulator/Board.h"

#include <QJsonArray>
#include <QtTest>

#include <cstdio>

using namespace zq::test;

class ZqprogUmockdevTest : public QObject
{
    Q_OBJECT
private slots:
    void boardsOnUsbAreListedAndChosenByPortOrId()
    {
        MockUsbBus bus;
        const QList<uint32_t> ids{0x00012345, 0x00023456, 0x00034567};
        QStringList ports;
        for (uint32_t id : ids) {
            zq::emu::BoardIdentity identity;
            identity.boardId = id;
            // The mock plugs each programmer into the root hub's port numbered as its address.
            ports << "1-" + QString::number(
                                bus.plugProgrammer(std::make_shared<zq::emu::Board>(identity)));
        }
        WorkFolder work;
        const ZqprogRun list = work.run({"list", "--json"});
        QCOMPARE(list.exitCode, 0);
        const QJsonArray boards = jsonLines(list).value(0).value("boards").toArray();
        QCOMPARE(boards.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject board = boards.at(i).toObject();
            QCOMPARE(board.value("port").toString(), ports.at(i));
            QCOMPARE(board.value("path").toString(), "usb:" + ports.at(i) + "/vid_5a17&pid_c0d2");
            QCOMPARE(board.value("board").toDouble(), double(ids.at(i)));
            QCOMPARE(board.value("mode").toString(), QString("normal"));
        }
        const ZqprogRun text = work.run({"list"});
        QCOMPARE(text.out.value(1).section("  ", 0, 1), ports.at(1) + "  0x00023456");

        const struct {
            QString device;
            int board;
        } choices[] = {{ports.at(1), 1}, {"0x00034567", 2}, {"0x0002", 1}};
        for (const auto &choice : choices) {
            const ZqprogRun info = work.run({"info", "--device", choice.device});
            QCOMPARE(info.exitCode, 0);
            QVERIFY(info.out.contains("Board ID:     " + zq::toHexText(ids.at(choice.board), 8)));
            QVERIFY(info.out.contains("Device:       usb:" + ports.at(choice.board) +
                                      "/vid_5a17&pid_c0d2"));
        }
        const ZqprogRun ambiguous = work.run({"info", "--device", "1-"});
        QCOMPARE(ambiguous.exitCode, 2);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(
                ambiguous.err.contains("\n  " + zq::toHexText(ids.at(i), 8) + "  " + ports.at(i)),
                qPrintable(ambiguous.err));
    }
};

int main(int argc, char **argv)
{
    if (!MockUsbBus::ensurePreloaded(argv)) {
        std::puts("SKIP: libumockdev-preload.so.0 could not be preloaded");
        return 77;
    }
    QCoreApplication app(argc, argv);
    ZqprogUmockdevTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_zqprog_umockdev.moc"
