#include "config/ImageHeader.h"

#include <QtTest>

using zq::config::readImageHeader;

namespace
{

QByteArray imageWithHeader(const QByteArray &header, int size = 8192)
{
    QByteArray image(size, char(0x5A));
    image.replace(4096, header.size(), header);
    return image;
}

} // namespace

class ImageHeaderTest : public QObject
{
    Q_OBJECT
private slots:
    void readsVersionAndMcuType()
    {
        const auto header =
            readImageHeader(imageWithHeader(QByteArray::fromHex("12345677A1B2C3D4")));
        QCOMPARE(header.version, 0x20123456u);
        QCOMPARE(header.mcuType, 0xA1B2C3D4u);

        // High bytes must not be sign-extended into the neighbouring ones.
        const auto high = readImageHeader(imageWithHeader(QByteArray::fromHex("FFFFFF00FFFFFFFF")));
        QCOMPARE(high.version, 0x20FFFFFFu);
        QCOMPARE(high.mcuType, 0xFFFFFFFFu);
    }

    void byte4099IsNotPartOfTheHeader()
    {
        const auto a = readImageHeader(imageWithHeader(QByteArray::fromHex("0102030011223344")));
        const auto b = readImageHeader(imageWithHeader(QByteArray::fromHex("010203FF11223344")));
        QCOMPARE(a.version, 0x20010203u);
        QCOMPARE(b.version, a.version);
        QCOMPARE(b.mcuType, a.mcuType);
    }

    void zeroVersionBytesKeepTheTopByte()
    {
        const auto header = readImageHeader(imageWithHeader(QByteArray(8, '\0')));
        QCOMPARE(header.version, 0x20000000u);
        QCOMPARE(header.mcuType, 0u);
    }

    void shortImagesReadMissingBytesAsZero()
    {
        QCOMPARE(readImageHeader(QByteArray()).version, 0x20000000u);
        QCOMPARE(readImageHeader(QByteArray()).mcuType, 0u);
        QCOMPARE(readImageHeader(QByteArray(4096, char(0xEE))).version, 0x20000000u);

        const QByteArray full = imageWithHeader(QByteArray::fromHex("ABCDEF0011223344"));
        QCOMPARE(readImageHeader(full.left(4098)).version, 0x20ABCD00u);
        QCOMPARE(readImageHeader(full.left(4102)).version, 0x20ABCDEFu);
        QCOMPARE(readImageHeader(full.left(4102)).mcuType, 0x11220000u);
        QCOMPARE(readImageHeader(full.left(4104)).mcuType, 0x11223344u);
    }
};

QTEST_APPLESS_MAIN(ImageHeaderTest)
#include "test_image_header.moc"
