#include "frontend/NumberText.h"

#include <QtTest>

using namespace zq;

class NumberTextTest : public QObject
{
    Q_OBJECT
private slots:
    void hexTextPadsButNeverCuts()
    {
        QCOMPARE(toHexText(0x1A2B, 8), QString("0x00001A2B"));
        QCOMPARE(toHexText(0xFFFFFFFFu, 8), QString("0xFFFFFFFF"));
        QCOMPARE(toHexText(0, 8), QString("0x00000000"));
        QCOMPARE(toHexText(0xABCD, 6), QString("0x00ABCD"));
        QCOMPARE(toHexText(0x12345678, 6), QString("0x12345678"));
        QCOMPARE(toHexText(0xab, 0), QString("0xAB"));
        QCOMPARE(toHexText(0, 0), QString("0x0"));
        QCOMPARE(toHexText(static_cast<uint32_t>(-1), 8), QString("0xFFFFFFFF"));
    }

    void decTextIsSigned()
    {
        QCOMPARE(toDecText(-4), QString("-4"));
        QCOMPARE(toDecText(100000), QString("100000"));
        QCOMPARE(toDecText(0), QString("0"));
        QCOMPARE(toDecText(INT32_MIN), QString("-2147483648"));
    }

    void timestampHasNoLeadingZeros()
    {
        QCOMPARE(timestampText(QTime(9, 5, 7)), QString("Timer:9:5:7"));
        QCOMPARE(timestampText(QTime(23, 59, 0)), QString("Timer:23:59:0"));
        QCOMPARE(timestampText(QTime(0, 0, 0, 999)), QString("Timer:0:0:0"));
    }
};

QTEST_APPLESS_MAIN(NumberTextTest)
#include "test_number_text.moc"
