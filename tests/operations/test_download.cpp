#include "OperationRig.h"
#include "operations/Operations.h"

#include <QtTest>

using namespace zq::test;
using zq::emu::EmulatedBus;
using zq::emu::Fault;
using zq::emu::FaultKind;

namespace
{

constexpr uint32_t kCodeAddress = 0x10000;
const QString kOk = QStringLiteral("Download to the programmer flash is OK!!!!!!");
const QString kFail = QStringLiteral("Download to the programmer flash is fail.....");

QByteArray spiFlash(OperationRig &rig, uint32_t start, uint32_t length)
{
    return toByteArray(rig.board->readSpiFlash(start, length));
}

bool nothingStored(OperationRig &rig)
{
    return spiFlash(rig, 0, 512) == QByteArray(512, char(0xFF)) &&
           spiFlash(rig, kCodeAddress, 4096) == QByteArray(4096, char(0xFF));
}

struct DownloadRig : OperationRig {
    QByteArray image;
    explicit DownloadRig(int size, uint32_t entry = 0x08000145) : image(codeImage(size, entry))
    {
        frontEnd.mcuType = 3;
        frontEnd.swdSpeed = 1;
        frontEnd.programNumber = "100000";
        useCodeFile(image);
    }
    QStringList head() const
    {
        return {"Timer:", "Start to download ...",       "Download end!",
                "Timer:", "Check CRC:" + crcText(image), "Write spi flash OK!"};
    }
};

} // namespace

class DownloadTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { EmulatedBus::instance().unplugAll(); }
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void downloadStoresTheImageAndTheMessageBlock()
    {
        DownloadRig rig(8192);
        rig.frontEnd.log << "an earlier line";
        zq::ops::downloadToProgrammer(rig.session);

        const QByteArray block = settingsBlock(
            QByteArray::fromHex("7FCEC3A5"
                                "5F79FEFF") +
            littleEndian(8192) + littleEndian(referenceCrc(rig.image)) + littleEndian(1));
        const uint32_t recordCrc = referenceCrc(block.left(504));
        const QStringList expected = rig.head() + QStringList{"Check crc pass.",
                                                              "Save message to flash",
                                                              "Message to crc:" + hex8(recordCrc),
                                                              "Check CRC:" + crcText(block),
                                                              "Write spi flash OK!",
                                                              "Check message data CRC pass.",
                                                              "Timer:",
                                                              "",
                                                              kOk};
        QCOMPARE(rig.log(), expected);
        QCOMPARE(spiFlash(rig, kCodeAddress, 8192), rig.image);
        QCOMPARE(spiFlash(rig, 0, 512), block);
        QCOMPARE(rig.frontEnd.progress, (QList<int>{0, 50, 100, 99, 0, 100, 0, 100}));
        QCOMPARE(rig.frontEnd.operationButtonsCalls, (QList<bool>{false, true}));
        QCOMPARE(rig.session.state.targetId, 0x5A3C3180u);
        QVERIFY(rig.frontEnd.boxes.isEmpty());
    }

    // The last or only block goes out whole, its tail 0xFF, never bytes of the block before:
    // over a longer image stored earlier, the tail is overwritten too.
    void shortBlocksAreSentWholeWithAnErasedTail()
    {
        const struct {
            int size;
            QList<int> progress;
        } cases[] = {{5000, {0, 81, 99, 0, 100, 0, 100}}, {1000, {0, 99, 0, 100, 0, 100}}};
        for (const auto &c : cases) {
            DownloadRig rig(c.size);
            rig.useCodeFile(codeImage(8192, 0x08000145, 9));
            zq::ops::downloadToProgrammer(rig.session);
            rig.useCodeFile(rig.image);
            rig.frontEnd.progress.clear();
            zq::ops::downloadToProgrammer(rig.session);
            QCOMPARE(rig.frontEnd.log.last(), kOk);
            const int blocks = (c.size + 4095) / 4096;
            QCOMPARE(spiFlash(rig, kCodeAddress, uint32_t(blocks * 4096)),
                     rig.image + QByteArray(blocks * 4096 - c.size, char(0xFF)));
            QCOMPARE(rig.frontEnd.progress, c.progress);
            QCOMPARE(rig.frontEnd.log[4], "Check CRC:" + crcText(rig.image));
        }
    }

    void messageBlockFieldsFollowTheControls()
    {
        const struct {
            int type;
            int speed;
            const char *number;
            const char *fields8;
            uint32_t speedField;
        } cases[] = {{6, 5, "",
                      "AF9FC3A5"
                      "FFFFFFFF",
                      2},
                     {1, -1, "abc",
                      "FDAEC3A5"
                      "FFFFFFFF",
                      0},
                     {3, 2, "4294967295",
                      "7FCEC3A5"
                      "00000000",
                      2}};
        for (const auto &c : cases) {
            DownloadRig rig(3000);
            rig.frontEnd.mcuType = c.type;
            rig.frontEnd.swdSpeed = c.speed;
            rig.frontEnd.programNumber = c.number;
            zq::ops::downloadToProgrammer(rig.session);
            QCOMPARE(spiFlash(rig, 0, 512),
                     settingsBlock(QByteArray::fromHex(c.fields8) + littleEndian(3000) +
                                   littleEndian(referenceCrc(rig.image)) +
                                   littleEndian(c.speedField)));
        }
    }

    void refusalsBeforeAnythingIsSent()
    {
        const QString problem = "There is a problem with the running address of this file!";
        const struct {
            const char *name;
            int type;
            bool open;
            int codeFile; // 0 none, 1 good, 2 missing, 3 bad entry address
            QStringList log;
            QStringList boxes;
            QList<bool> buttons;
        } cases[] = {
            {"closed", 3, false, 1, {"before", "The programmer is disconnected!"}, {}, {false}},
            // The type is judged before the file: a missing file gives no box here.
            {"no type", 0, true, 2, {"0x5A3C0000 is wrong type!"}, {}, {}},
            {"no path", 3, true, 0, {"before"}, {"Please input a code file"}, {}},
            {"missing", 3, true, 2, {"before", "*"}, {"Read fail,please check the path!"}, {}},
            {"bad entry", 3, true, 3, {"***" + problem + "***"}, {problem}, {}},
        };
        for (const auto &c : cases) {
            DownloadRig rig(c.codeFile == 3 ? 9000 : 5000,
                            c.codeFile == 3 ? 0x08001001 : 0x08000145);
            rig.frontEnd.mcuType = c.type;
            rig.prepareRefusal(c.codeFile, c.open);
            rig.frontEnd.log = QStringList{"before"};
            zq::ops::downloadToProgrammer(rig.session);
            verifyRefusal(rig, c.name, c.log, rig.frontEnd.codePath, c.boxes, c.buttons);
            QVERIFY2(nothingStored(rig), c.name);
        }
    }

    void failuresEndTheDownloadWithTheirLines()
    {
        const QString lost = "The programmer is disconnected!";
        const struct {
            const char *name;
            int size;
            std::optional<Fault> fault;
            int lost;         // 0 stays, 1 lost after the first block, 2 after the short block
            QStringList tail; // after "Start to download ..."
        } cases[] = {
            {"second block",
             8192,
             Fault::nth(FaultKind::WrongMarker, 2).onCommand('H'),
             0,
             {"NG, Addr : 0x11000-3"}},
            {"last short block",
             5000,
             Fault::nth(FaultKind::BadReplyCrc, 2).onCommand('H'),
             0,
             {"Write Eflash CRC:*", "NG, Addr : 0x11000-4"}},
            {"lost after a block", 8192, std::nullopt, 1, {lost}},
            {"lost after the short block", 5000, std::nullopt, 2, {lost}},
        };
        for (const auto &c : cases) {
            DownloadRig rig(c.size);
            if (c.fault)
                rig.arm(*c.fault);
            if (c.lost == 1)
                rig.loseProgrammerAfterFirstBlock();
            if (c.lost == 2) {
                rig.loseProgrammerWhen([&rig] {
                    return spiFlash(rig, kCodeAddress + 4096, 16) != QByteArray(16, char(0xFF)) &&
                           rig.replyIsIn();
                });
            }
            zq::ops::downloadToProgrammer(rig.session);

            QStringList log = rig.log();
            for (QString &line : log)
                line.replace(QRegularExpression("^Write Eflash CRC:.*"), "Write Eflash CRC:*");
            const QStringList expected =
                QStringList{"Timer:", "Start to download ..."} + c.tail + QStringList{"", kFail};
            QVERIFY2(log == expected, c.name);
            QVERIFY2(spiFlash(rig, 0, 512) == QByteArray(512, char(0xFF)), c.name);
            QVERIFY2(rig.frontEnd.operationButtonsCalls.last(), c.name);
        }
    }

    // A block that never gets its reply: the usual example of a time-out.
    void aSilentBlockTimesOut()
    {
        DownloadRig rig(12288);
        rig.arm(Fault::nth(FaultKind::NoReply, 3).onCommand('H'));
        zq::ops::downloadToProgrammer(rig.session);
        QCOMPARE(rig.log(), (QStringList{"Timer:", "Start to download ...", "NG, Addr : 0x12000-2",
                                         "", kFail}));
    }

    void failedChecksAndMessageWrites()
    {
        DownloadRig probe(8192);
        const QString readCrc = "Read crc:" + crcText(probe.image);
        const struct {
            const char *name;
            Fault fault;
            QStringList tail; // after the image has been written
        } cases[] = {
            {"image check",
             Fault::next(FaultKind::FailingStatus).onCommand('I'),
             {"Download end!", "Timer:", readCrc}},
            // Two blocks and the record: a third 'H' is the record, never an empty block.
            {"record write",
             Fault::nth(FaultKind::WrongMarker, 3).onCommand('H'),
             {"*", "*", "*", "*", "Check crc pass.", "Save message to flash", "*",
              "Write SPI Flash, Addr : 0x0-3"}},
            {"record check",
             Fault::nth(FaultKind::FailingStatus, 2).onCommand('I'),
             {"*", "*", "*", "*", "Check crc pass.", "Save message to flash", "*", "Read crc:*"}},
        };
        for (const auto &c : cases) {
            DownloadRig rig(8192);
            rig.arm(c.fault);
            zq::ops::downloadToProgrammer(rig.session);
            const QStringList log = rig.log();
            const QStringList expected =
                QStringList{"Timer:", "Start to download ..."} + c.tail + QStringList{"", kFail};
            QVERIFY2(log.size() == expected.size(), c.name);
            for (int i = 0; i < log.size(); ++i) {
                const QString &want = expected[i];
                const bool match =
                    want.endsWith('*') ? log[i].startsWith(want.chopped(1)) : log[i] == want;
                QVERIFY2(match, qPrintable(QString(c.name) + ": " + log[i]));
            }
        }
    }

    void checkComparesTheStoredImageWithTheFile()
    {
        DownloadRig rig(5000);
        zq::ops::downloadToProgrammer(rig.session);
        const QStringList before = rig.frontEnd.log;
        const QString imageCrc = crcText(rig.image);

        zq::ops::checkSpiFlash(rig.session);
        const QStringList passed{"", "", "Check CRC:" + imageCrc, "Write spi flash OK!",
                                 "Check programmer flash CRC is OK..."};
        QCOMPARE(rig.frontEnd.log, before + passed);
        QCOMPARE(rig.frontEnd.operationButtonsCalls, (QList<bool>{false, true, false, true}));

        // The same length with other bytes.
        rig.useCodeFile(codeImage(5000, 0x08000145, 7));
        rig.frontEnd.log.clear();
        zq::ops::checkSpiFlash(rig.session);
        QCOMPARE(rig.frontEnd.log, (QStringList{"", "", "Read crc:" + imageCrc,
                                                "Check programmer flash CRC is NG..."}));

        // An unreadable file checks the image read last.
        rig.useCodeFile(rig.image);
        zq::ops::checkSpiFlash(rig.session);
        rig.frontEnd.log.clear();
        rig.frontEnd.codePath = rig.files.filePath("gone.bin");
        zq::ops::checkSpiFlash(rig.session);
        QCOMPARE(rig.frontEnd.boxes.size(), 1);
        QCOMPARE(rig.frontEnd.boxes[0].text, QString("Read fail,please check the path!"));
        QCOMPARE(rig.frontEnd.log, QStringList{rig.frontEnd.codePath} + passed);
    }

    // With no image read in this run there is nothing to check against.
    void checkRefusals()
    {
        const struct {
            const char *name;
            bool open;
            int codeFile; // 0 none, 2 missing
            QStringList log;
            QStringList boxes;
            QList<bool> buttons;
        } cases[] = {
            {"closed", false, 2, {"The programmer boot is disconnected!"}, {}, {false}},
            {"no path", true, 0, {}, {"Please input flash code file"}, {}},
            {"never read", true, 2, {"*"}, {"Read fail,please check the path!"}, {}},
        };
        for (const auto &c : cases) {
            OperationRig rig;
            rig.prepareRefusal(c.codeFile, c.open);
            zq::ops::checkSpiFlash(rig.session);
            verifyRefusal(rig, c.name, c.log, rig.frontEnd.codePath, c.boxes, c.buttons);
        }
    }
};

QTEST_GUILESS_MAIN(DownloadTest)
#include "test_download.moc"
