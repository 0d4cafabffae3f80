#include "common/Crc32.h"

#include <QtTest>

class Crc32Test : public QObject
{
    Q_OBJECT
private slots:
    void knownVectors()
    {
        const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
        QCOMPARE(zq::crc32(digits, sizeof digits), 0x2DFD2D88u); // not zlib's 0xCBF43926
        QCOMPARE(zq::crc32(nullptr, 0), 0u);
        const uint8_t one[] = {0x01};
        QCOMPARE(zq::crc32(one, 1), 0x77073096u); // second entry of the standard table
    }

    void runsInPieces()
    {
        QByteArray data(10000, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 7 + 3);
        auto *p = reinterpret_cast<const uint8_t *>(data.constData());
        const uint32_t whole = zq::crc32(p, size_t(data.size()));
        QCOMPARE(zq::crc32(p + 4096, size_t(data.size()) - 4096, zq::crc32(p, 4096)), whole);
    }
};

QTEST_APPLESS_MAIN(Crc32Test)
#include "test_crc32.moc"
