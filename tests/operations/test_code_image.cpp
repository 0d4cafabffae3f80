#include "OperationRig.h"
#include "frontend/NumberText.h"
#include "operations/Operations.h"

#include <QtTest>

using namespace zq::test;
using zq::emu::EmulatedBus;

namespace
{

const QString kProblem =
    QStringLiteral("There is a problem with the running address of this file!");

QString summary(const QByteArray &image)
{
    return "Mcu code, CRC = " + crcText(image) + " Len: " + QString::number(image.size());
}

int checkEntry(const QByteArray &image)
{
    return zq::ops::runningAddressCheck(reinterpret_cast<const uint8_t *>(image.constData()),
                                        image.size());
}

} // namespace

class CodeImageTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { EmulatedBus::instance().unplugAll(); }
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void runningAddressCheckAcceptsOnlyTheStartOfFlashAndOfTheRegionAt0x10000000()
    {
        const struct {
            uint32_t entry;
            int problem;
        } cases[] = {{0x08000145, 0}, {0x08000FFF, 0}, {0x08001000, 1}, {0x08001001, 1},
                     {0x080FF000, 1}, {0x08100000, 0}, {0x10000000, 0}, {0x10001FFF, 0},
                     {0x10002000, 1}, {0x10FFFFFF, 1}, {0x20000101, 0}, {0x00000000, 0}};
        for (const auto &c : cases)
            QVERIFY2(checkEntry(codeImage(64, c.entry)) == c.problem,
                     qPrintable(zq::toHexText(c.entry, 8)));
    }

    // Missing entry-address bytes read as zero, and no byte past the end is touched.
    void shortImagesReadTheirMissingEntryBytesAsZero()
    {
        const QByteArray seven = QByteArray::fromHex("00000000451000");
        QCOMPARE(zq::ops::entryAddress(reinterpret_cast<const uint8_t *>(seven.constData()), 7),
                 0x00001045u);
        QCOMPARE(zq::ops::entryAddress(reinterpret_cast<const uint8_t *>(seven.constData()), 5),
                 0x00000045u);
        QCOMPARE(zq::ops::entryAddress(nullptr, 0), 0u);
        QCOMPARE(checkEntry(QByteArray()), 0);
    }

    void choosingAFileShowsItsSummaryAndEntryAddress()
    {
        OperationRig rig;
        const QByteArray image = codeImage(12288);
        const QString file = rig.writeFile("demo.bin", image);
        rig.frontEnd.log << "an earlier line";
        rig.frontEnd.openFileAnswers << file;

        zq::ops::inputMcuCode(rig.session);

        QCOMPARE(rig.frontEnd.openFileCaptions, QStringList{"Select Mcu Code"});
        QCOMPARE(rig.frontEnd.openFileDirectories, QStringList{"./"});
        // The first filter is the raw binary's, as it always was.
        QCOMPARE(rig.frontEnd.openFileFilters.size(), 1);
        QCOMPARE(rig.frontEnd.openFileFilters[0].split(";;").first(), QString("file(*.bin)"));
        QVERIFY(rig.frontEnd.openFileFilters[0].split(";;").value(1).contains("*.hex"));
        QCOMPARE(rig.frontEnd.log, QStringList{"enter_Addr:0x08000145"});
        QCOMPARE(rig.frontEnd.codePathsSet, QStringList{file});
        QCOMPARE(rig.frontEnd.codeSummaries, QStringList{summary(image)});
        QVERIFY(rig.frontEnd.boxes.isEmpty());
        const zq::ops::ProgrammerState &state = rig.session.state;
        QCOMPARE(state.mcuCodePath, file);
        QCOMPARE(state.mcuCodeLength, 12288);
        QVERIFY(state.mcuCodeRead);
        QVERIFY(summary(image).contains(zq::toHexText(state.mcuCodeCrc, 8)));

        // The next dialog opens where the last file was chosen.
        zq::ops::inputMcuCode(rig.session);
        QCOMPARE(rig.frontEnd.openFileDirectories.last(), file);
    }

    void aBadRunningAddressIsOnlyAWarningWhenChoosing()
    {
        OperationRig rig;
        const QByteArray image = codeImage(5000, 0x080FF000);
        rig.frontEnd.openFileAnswers << rig.writeFile("far.bin", image);

        zq::ops::inputMcuCode(rig.session);

        QCOMPARE(rig.frontEnd.boxes.size(), 1);
        QCOMPARE(rig.frontEnd.boxes[0].title, QString("Message"));
        QCOMPARE(rig.frontEnd.boxes[0].text, kProblem);
        QCOMPARE(rig.frontEnd.log,
                 (QStringList{"***" + kProblem + "***", "enter_Addr:0x080FF000"}));
        QCOMPARE(rig.frontEnd.codeSummaries, QStringList{summary(image)});
        QCOMPARE(rig.session.state.mcuCodeLength, 5000);
    }

    void anEmptyFileHasLengthAndCrcZero()
    {
        OperationRig rig;
        rig.frontEnd.openFileAnswers << rig.writeFile("empty.bin", QByteArray());
        zq::ops::inputMcuCode(rig.session);
        QCOMPARE(rig.frontEnd.log, QStringList{"enter_Addr:0x00000000"});
        QCOMPARE(rig.frontEnd.codeSummaries, QStringList{"Mcu code, CRC = 0x00000000 Len: 0"});
        QVERIFY(rig.frontEnd.boxes.isEmpty());
    }

    void cancellingChangesNothing()
    {
        OperationRig rig;
        rig.frontEnd.log << "kept";
        zq::ops::inputMcuCode(rig.session);
        QCOMPARE(rig.frontEnd.log, QStringList{"kept"});
        QCOMPARE(rig.frontEnd.logClears, 0);
        QVERIFY(rig.frontEnd.codePathsSet.isEmpty());
        QCOMPARE(rig.session.state.mcuCodePath, QString("./"));
    }

    // A missing file, and one too large for a signed 32-bit length (a sparse file, so no disk
    // space is used), are both unreadable: the path is taken, the image values are not.
    void anUnreadableFileKeepsTheValuesOfTheImageReadBefore()
    {
        OperationRig rig;
        const QByteArray image = codeImage(3000);
        rig.frontEnd.openFileAnswers << rig.writeFile("good.bin", image);
        zq::ops::inputMcuCode(rig.session);
        const uint32_t crc = rig.session.state.mcuCodeCrc;

        const QString huge = rig.files.filePath("huge.bin");
        QFile sparse(huge);
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        QVERIFY(sparse.resize(qint64(1) << 31));
        sparse.close();
        for (const QString &file : {rig.files.filePath("missing.bin"), huge}) {
            rig.frontEnd.boxes.clear();
            rig.frontEnd.openFileAnswers << file;
            zq::ops::inputMcuCode(rig.session);
            QCOMPARE(rig.frontEnd.boxes.size(), 1);
            QCOMPARE(rig.frontEnd.boxes[0].title, QString("Error"));
            QCOMPARE(rig.frontEnd.boxes[0].text, QString("Read fail,please check the path!"));
            QVERIFY(rig.frontEnd.log.isEmpty());
            QCOMPARE(rig.frontEnd.codePathsSet.last(), file);
            QCOMPARE(rig.session.state.mcuCodePath, file);
            QCOMPARE(rig.session.state.mcuCodeLength, 3000);
            QCOMPARE(rig.session.state.mcuCodeCrc, crc);
            QCOMPARE(rig.frontEnd.codeSummaries.size(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(CodeImageTest)
#include "test_code_image.moc"
