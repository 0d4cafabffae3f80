#include "usb/PipeDiscovery.h"

#include <QtTest>

#include <vector>

using zq::usb::BulkPipes;
using zq::usb::EndpointQuery;

namespace
{

struct Endpoint {
    bool queryOk;
    uint8_t type;
    uint8_t address;
};

BulkPipes discover(const std::vector<Endpoint> &endpoints)
{
    return zq::usb::discoverBulkPipes(int(endpoints.size()), [&](int index, EndpointQuery *out) {
        const Endpoint &e = endpoints.at(size_t(index));
        out->type = e.type;
        out->address = e.address;
        return e.queryOk;
    });
}

constexpr uint8_t kBulk = 2;
constexpr uint8_t kInterrupt = 3;

} // namespace

class PipeDiscoveryTest : public QObject
{
    Q_OBJECT

private slots:
    void laterBulkEndpointOfADirectionWins()
    {
        const BulkPipes pipes = discover({{true, kBulk, 0x81},
                                          {true, kBulk, 0x01},
                                          {true, kInterrupt, 0x83},
                                          {true, kBulk, 0x82}});
        QVERIFY(pipes.usable());
        QCOMPARE(pipes.inPipe, uint8_t(0x82));
        QCOMPARE(pipes.outPipe, uint8_t(0x01));
    }

    void onlyTheLastQueryDecides()
    {
        const BulkPipes lastFails =
            discover({{true, kBulk, 0x81}, {true, kBulk, 0x01}, {false, kBulk, 0x02}});
        QVERIFY(!lastFails.lastQueryOk);
        QVERIFY(!lastFails.usable());
        QCOMPARE(lastFails.outPipe, uint8_t(0x01)); // the failed query stored nothing

        const BulkPipes earlierFails =
            discover({{false, kBulk, 0x81}, {true, kBulk, 0x01}, {true, kBulk, 0x82}});
        QVERIFY(earlierFails.usable());
        QCOMPARE(earlierFails.inPipe, uint8_t(0x82));
    }

    void bothDirectionsAreNeeded()
    {
        QVERIFY(discover({}).lastQueryOk);
        QVERIFY(!discover({}).usable());
        QVERIFY(!discover({{true, kBulk, 0x81}, {true, kInterrupt, 0x01}}).usable());
        QVERIFY(!discover({{true, kBulk, 0x02}}).usable());
    }
};

QTEST_APPLESS_MAIN(PipeDiscoveryTest)
#include "test_pipe_discovery.moc"
