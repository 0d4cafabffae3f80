// The board's frame parser: what it takes, and that no input makes it read out of bounds.
#include "BoardTalk.h"
#include "emulator/Frames.h"

#include <QtTest>

#include <random>

using zq::emu::CommandFrame;
using zq::emu::parseCommandFrame;
using namespace emutest;

namespace
{

Bytes blockFrame(char command, uint32_t address, size_t length, size_t sent = 0)
{
    const size_t total = length + 14;
    Bytes frame(sent ? sent : total, 0);
    frame[0] = 0xAA;
    frame[1] = 0x55;
    frame[2] = uint8_t(command);
    putBigEndian(frame, 3, 3, uint32_t(total));
    putBigEndian(frame, 6, 4, address);
    for (size_t i = 0; i < length; ++i)
        frame[10 + i] = uint8_t(i * 3 + 1);
    seal(frame, total - 4);
    return frame;
}

// An exact-size heap copy, so a sanitizer build sees any read past the end.
std::optional<CommandFrame> parse(const Bytes &bytes, size_t count)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[count ? count : 1]);
    std::copy(bytes.begin(), bytes.begin() + long(count), copy.get());
    return parseCommandFrame(copy.get(), count);
}

std::optional<CommandFrame> parse(const Bytes &bytes)
{
    return parse(bytes, bytes.size());
}

} // namespace

class CommandFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void takesEachFormWithItsFields()
    {
        const auto check =
            parse(fixedFrame('I', {0, 0, 0x24, 0, 1, 0, 0, 0, 0, 0x10, 0, 0xDE, 0xAD, 0xBE, 0xEF}));
        QVERIFY(check && check->command == 'I' && !check->variable);
        const auto region = zq::emu::regionCheckOf(*check);
        QCOMPARE(region.start, 0x10000u);
        QCOMPARE(region.length, 0x1000u);
        QCOMPARE(region.expectedCrc, 0xDEADBEEFu);

        const auto block = parse(blockFrame('F', 0x3000, 4096));
        QVERIFY(block && block->variable && block->command == 'F');
        QCOMPARE(block->address, 0x3000u);
        QCOMPARE(block->data.size(), size_t(4096));
        QCOMPARE(int(block->data[5]), 16);

        QVERIFY(parse(blockFrame('J', 0, 0)) && parse(blockFrame('J', 0, 0))->data.empty());
        QVERIFY(parse(blockFrame('H', 0, 22, 38)));  // the padded 36-byte frame
        QVERIFY(!parse(blockFrame('H', 0, 22, 36))); // never sent at the fixed form's length
        QVERIFY(!parse(blockFrame('H', 0, 23, 38)));
        QVERIFY(!parse(blockFrame('H', 0, 4097))); // longer than a block
        QVERIFY(parse(fixedFrame('K', {'Z', 'Q'})));
        QVERIFY(!parse(fixedFrame('K', {'Z', 'q'})));
        QVERIFY(!parse(fixedFrame('A', {'S', 'W', 'd'})));
        QVERIFY(!parse(fixedFrame('G', {0, 0, 0x25})));
        QVERIFY(!parse(fixedFrame('B', {0, 0, 0x24})));
        QVERIFY(!parseCommandFrame(nullptr, 36));
    }

    void refusesEveryTruncationAndEveryDamagedByte()
    {
        const QList<Bytes> frames = {fixedFrame('O', {'u', 's', 'B', 1}), blockFrame('H', 8, 100),
                                     blockFrame('H', 0, 22, 38)};
        for (const Bytes &frame : frames) {
            for (size_t count = 0; count < frame.size(); ++count)
                QVERIFY2(!parse(frame, count), qPrintable(QString("%1 bytes taken").arg(count)));
            // Every byte the CRC covers matters; the padding after a 36-byte frame does not.
            const size_t covered = frame.size() == 38 ? 36 : frame.size();
            for (size_t at = 0; at < covered; ++at) {
                Bytes damaged = frame;
                damaged[at] ^= 0x40;
                QVERIFY2(!parse(damaged), qPrintable(QString("byte %1 damaged").arg(at)));
            }
        }
    }

    void lengthFieldThatLiesIsRefused()
    {
        Bytes frame = blockFrame('H', 0, 100);
        for (uint32_t claimed : {0u, 13u, 113u, 115u, 4111u, 0xFFFFFFu}) {
            Bytes lie = frame;
            lie[3] = uint8_t(claimed >> 16);
            lie[4] = uint8_t(claimed >> 8);
            lie[5] = uint8_t(claimed);
            QVERIFY(!parse(lie));
        }
    }

    void garbageNeverGetsThrough()
    {
        std::mt19937 random(20240611);
        int taken = 0;
        for (int round = 0; round < 20000; ++round) {
            Bytes bytes(random() % 4200);
            for (uint8_t &b : bytes)
                b = uint8_t(random());
            // Half of them look like frames up to the CRC, to get past the first checks.
            if (round % 2 && bytes.size() >= 6) {
                bytes[0] = 0xAA;
                bytes[1] = 0x55;
                bytes[2] = uint8_t("KHIJLOAFG"[random() % 9]);
                bytes[3] = 0;
                bytes[4] = uint8_t(bytes.size() >> 8);
                bytes[5] = uint8_t(bytes.size());
            }
            taken += parse(bytes).has_value();
        }
        QCOMPARE(taken, 0);
    }
};

QTEST_APPLESS_MAIN(CommandFrameTest)
#include "test_command_frame.moc"
