// Files no operation may read as an image, against every operation that reads one, in the
// window's words: each row ends with its box and its log, and nothing is sent to the board.
#include "BadFiles.h"
#include "OperationRig.h"
#include "operations/Operations.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace zq::test;
using zq::emu::EmulatedBus;

namespace
{

const QString kReadFail = QStringLiteral("Read fail,please check the path!");
const QString kNoData = QStringLiteral("There aren't any datas to update!");

struct Operation {
    const char *name;
    std::function<int(zq::ops::Session &)> run;
    QString unreadableBox; // the caller's open-failure text
    QStringList shortTail; // the log an image of fewer than 8 bytes ends with
    bool throughDialog;    // the file comes from the update's dialog, not the path line
};

QList<Operation> operations()
{
    return {
        {"download",
         zq::ops::downloadToProgrammer,
         kReadFail,
         {"", "Download to the programmer flash is fail....."},
         false},
        {"check",
         zq::ops::checkSpiFlash,
         kReadFail,
         {"", "", "Check programmer flash CRC is NG..."},
         false},
        {"program",
         zq::ops::programTargetOperation,
         kReadFail,
         {"", "Program target is fail.....-1"},
         false},
        {"verify",
         zq::ops::verifyTarget,
         QStringLiteral("Read file fail,please check the path!"),
         {"", "", "Check EFlash NG!"},
         false},
        {"firmware update",
         zq::ops::updateFirmware,
         kReadFail,
         {"", "Update MCU is fail....."},
         true},
    };
}

// Nothing reached the board: every command waits in the event loop, and no memory changed.
void verifyNothingSent(OperationRig &rig)
{
    QCOMPARE(rig.frontEnd.processEventsCalls, 0);
    QCOMPARE(rig.board->readSpiFlash(0x10000, 16), std::vector<uint8_t>(16, 0xFF));
    QVERIFY(rig.board->appImage().empty());
}

} // namespace

class BadFilesTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { EmulatedBus::instance().unplugAll(); }
    void cleanup() { EmulatedBus::instance().unplugAll(); }

    void badFilesAgainstEveryOperation()
    {
        for (const BadFile &bad : badFiles()) {
            for (const Operation &operation : operations()) {
                const QString row = QString(bad.name) + " / " + operation.name;
                OperationRig rig;
                rig.frontEnd.mcuType = 3;
                const QString path = makeBadFile(bad.kind, rig.files.path(), "image");
                QVERIFY2(!path.isEmpty(), qPrintable(row));
                if (operation.throughDialog)
                    rig.frontEnd.openFileAnswers << path;
                else
                    rig.frontEnd.codePath = path;
                QElapsedTimer clock;
                clock.start();
                const int result = operation.run(rig.session);
                QVERIFY2(clock.elapsed() < 5000, qPrintable(row + ": took too long"));
                QVERIFY2(!rig.frontEnd.boxes.isEmpty(), qPrintable(row));
                if (bad.readable) {
                    QVERIFY2(rig.frontEnd.boxes.last().text == kNoData, qPrintable(row));
                    QVERIFY2(rig.frontEnd.log.mid(rig.frontEnd.log.size() -
                                                  operation.shortTail.size()) ==
                                 operation.shortTail,
                             qPrintable(row + ": " + rig.frontEnd.log.join('|')));
                    QVERIFY2(result == -1, qPrintable(row + ": " + QString::number(result)));
                } else {
                    QVERIFY2(rig.frontEnd.boxes.size() == 1, qPrintable(row));
                    QVERIFY2(rig.frontEnd.boxes[0].text == operation.unreadableBox,
                             qPrintable(row + ": " + rig.frontEnd.boxes[0].text));
                    QVERIFY2(rig.frontEnd.log == QStringList{path}, qPrintable(row));
                    QVERIFY2(result == zq::ops::kInputRefused, qPrintable(row));
                }
                verifyNothingSent(rig);
            }
        }
    }

    // Run by ctest as an unprivileged user (tests/operations/CMakeLists.txt).
    void anImageWithoutReadPermission()
    {
        for (const Operation &operation : operations()) {
            OperationRig rig;
            rig.frontEnd.mcuType = 3;
            const QString path = rig.writeFile("locked.bin", codeImage(5000));
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
            if (QFile(path).open(QIODevice::ReadOnly)) {
                if (qEnvironmentVariableIsSet("ZQ_EXPECT_UNPRIVILEGED"))
                    QFAIL("meant to run as an unprivileged user, but may read any file");
                QSKIP("this user reads any file (root?); the unprivileged run covers this");
            }
            if (operation.throughDialog)
                rig.frontEnd.openFileAnswers << path;
            else
                rig.frontEnd.codePath = path;
            QCOMPARE(operation.run(rig.session), zq::ops::kInputRefused);
            QCOMPARE(rig.frontEnd.boxes.size(), 1);
            QCOMPARE(rig.frontEnd.boxes[0].text, operation.unreadableBox);
            QCOMPARE(rig.frontEnd.log, QStringList{path});
            verifyNothingSent(rig);
        }
    }

    // Choosing only inspects the file: an unreadable one gets the "Error" box, a short one a
    // summary of what it holds.
    void choosingABadFile()
    {
        for (const BadFile &bad : badFiles()) {
            OperationRig rig;
            const QString path = makeBadFile(bad.kind, rig.files.path(), "image");
            rig.frontEnd.openFileAnswers << path;
            zq::ops::inputMcuCode(rig.session);
            if (bad.readable) {
                QVERIFY2(rig.frontEnd.boxes.isEmpty(), bad.name);
                QCOMPARE(rig.frontEnd.codeSummaries.size(), 1);
                QVERIFY(rig.frontEnd.codeSummaries[0].endsWith(
                    " Len: " + QString::number(bad.kind == BadKind::Seven ? 7 : 0)));
            } else {
                QCOMPARE(rig.frontEnd.boxes.size(), 1);
                QCOMPARE(rig.frontEnd.boxes[0].title, QString("Error"));
                QCOMPARE(rig.frontEnd.boxes[0].text, kReadFail);
                QVERIFY2(rig.frontEnd.codeSummaries.isEmpty(), bad.name);
            }
        }
    }

    // Once a sound image was read, a check after an unreadable file checks that image
    // (decision 12); after a short one it checks nothing.
    void checkAfterAShortFileSendsNothing()
    {
        OperationRig rig;
        rig.useCodeFile(codeImage(5000));
        QCOMPARE(zq::ops::checkSpiFlash(rig.session), 2); // the erased flash differs
        rig.frontEnd.codePath = makeBadFile(BadKind::Seven, rig.files.path(), "short.bin");
        rig.frontEnd.processEventsCalls = 0;
        rig.frontEnd.log.clear();
        QCOMPARE(zq::ops::checkSpiFlash(rig.session), -1);
        QCOMPARE(rig.frontEnd.log, (QStringList{"", "", "Check programmer flash CRC is NG..."}));
        QCOMPARE(rig.frontEnd.processEventsCalls, 0);
        QCOMPARE(rig.session.state.mcuCodeLength, 7);
    }

    void theDownloadMustFitTheFlashFromTheCodeAddress()
    {
        const struct {
            const char *name;
            int64_t capacity;
            int length;
            bool fits;
        } cases[] = {
            {"exactly the room", 0x20000, 0x10000, true},
            {"one byte more", 0x20000, 0x10001, false},
            {"a last block would pass the end", 0x20000 + 100, 0x10000 + 1, false},
            {"no size in the catalogue", 0, 4096, false},
            {"a size beyond 32 bits", int64_t(1) << 32, 8192, true},
        };
        for (const auto &c : cases) {
            OperationRig rig;
            rig.session.state.flashCapacity = c.capacity;
            rig.frontEnd.mcuType = 3;
            rig.useCodeFile(codeImage(c.length));
            const int result = zq::ops::downloadToProgrammer(rig.session);
            if (c.fits) {
                QVERIFY2(result == 0, c.name);
                continue;
            }
            QVERIFY2(result == -2, c.name);
            QCOMPARE(rig.frontEnd.boxes.size(), 1);
            const QString box = rig.frontEnd.boxes[0].text;
            QVERIFY2(box.contains("The image is " + QString::number(c.length) + " bytes") &&
                         box.contains("(flash size " + QString::number(c.capacity)),
                     qPrintable(box));
            QCOMPARE(rig.frontEnd.log.last(),
                     QString("Download to the programmer flash is fail....."));
            verifyNothingSent(rig);
        }
    }

    // The field keeps the 32-bit product; the log says it is not the flash's size.
    void aFlashSizeBeyond32BitsIsSaidInTheLog()
    {
        QTemporaryDir dir;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        QFile catalogue(dir.filePath("Flash.ini"));
        QVERIFY(catalogue.open(QIODevice::WriteOnly));
        catalogue.write("[FLASH]\n0xEF4018,256,16777216,BIG,\n");
        catalogue.close();
        OperationRig rig;
        const int connected = zq::ops::connectProgrammer(rig.session);
        QDir::setCurrent(before);
        QCOMPARE(connected, 0);
        QCOMPARE(rig.frontEnd.flashInfos.last(), (QStringList{"0xEF4018", "0", "BIG"}));
        QCOMPARE(rig.frontEnd.log.last(),
                 QString("The flash size in Flash.ini is out of range: 4294967296 bytes"));
        QCOMPARE(rig.session.state.flashCapacity, int64_t(1) << 32);
    }

    void anUpdateMustFitTheProgrammersOwnFlash()
    {
        for (const int length :
             {zq::ops::kProgrammerFlashSize, zq::ops::kProgrammerFlashSize + 1}) {
            OperationRig rig;
            QByteArray image = codeImage(length);
            // The board's own MCU type in the header, so only the size can stop it.
            for (int i = 0; i < 4; ++i)
                image[4100 + i] = char(rig.session.state.boardMcu >> (24 - 8 * i));
            rig.frontEnd.openFileAnswers << rig.writeFile("big.app", image);
            const int result = zq::ops::updateFirmware(rig.session);
            if (length == zq::ops::kProgrammerFlashSize) {
                QCOMPARE(result, 0);
                continue;
            }
            QCOMPARE(result, -2);
            QCOMPARE(rig.frontEnd.boxes.size(), 1);
            QCOMPARE(rig.frontEnd.boxes[0].text,
                     QString("The image is 1048577 bytes; the programmer's own flash holds at "
                             "most 1048576 bytes"));
            QCOMPARE(rig.frontEnd.log.last(), QString("Update MCU is fail....."));
            QCOMPARE(rig.frontEnd.processEventsCalls, 0);
        }
    }
};

QTEST_GUILESS_MAIN(BadFilesTest)
#include "test_bad_files.moc"
