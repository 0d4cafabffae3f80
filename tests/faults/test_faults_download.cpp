// Download to the programmer's flash with each fault switch on the first, a middle and the last
// image block, the message block, and both flash checks.

#include "FaultBench.h"

using namespace faultbench;

// Blocks go to 0x10000, 0x11000 and 0x12000 (the short one), the message block to 0. Block
// replies are only validated, so a failing status in one passes; a damaged CRC is logged with
// the block write's own label. The buttons come back whatever happened.
static void addRows()
{
    addMatrixColumns();

    const QString image = crcText(codeImage());
    const QByteArray message = messageBlock();
    const QString record = crcText(message.left(504));
    const QString recordCheck = crcText(message);

    const QStringList started = {kTimer, "Start to download ..."};
    const QStringList written = started + QStringList{"Download end!", kTimer};
    const QStringList checked =
        written + QStringList{"Check CRC:" + image, "Write spi flash OK!", "Check crc pass.",
                              "Save message to flash", "Message to crc:" + record};
    const QStringList ok = checked + QStringList{"Check CRC:" + recordCheck,
                                                 "Write spi flash OK!",
                                                 "Check message data CRC pass.",
                                                 kTimer,
                                                 "",
                                                 "Download to the programmer flash is OK!!!!!!"};
    const QString writeCrc = damaged("Write Eflash CRC:");

    FrameRows rows;
    rows.after = QStringList{"", "Download to the programmer flash is fail....."};
    rows.ok = ok;
    rows.failed = rows.passed = on(kTargetAndFlash);

    // The image blocks, then the message block.
    const QString blockLines[] = {"NG, Addr : 0x10000", "NG, Addr : 0x11000", "NG, Addr : 0x12000",
                                  "Write SPI Flash, Addr : 0x0"};
    for (int frame = 1; frame <= 4; ++frame) {
        const QString at = blockLines[frame - 1];
        rows.before = frame < 4 ? started : checked;
        rows.lost = QStringList{at + "-2"};
        rows.malformed = QStringList{at + "-3"};
        rows.damagedCrc = QStringList{writeCrc, at + "-4"};
        addFrameRows('H', frame, rows);
    }

    // The image check, then the message block's check.
    const QString checkedCrcs[] = {image, recordCheck};
    for (int frame = 1; frame <= 2; ++frame) {
        rows.before = frame == 1 ? written : checked;
        rows.lost = rows.malformed = QStringList{};
        rows.damagedCrc = QStringList{damaged("CRC error:")};
        rows.failing = QStringList{"Read crc:" + checkedCrcs[frame - 1]};
        addFrameRows('I', frame, rows);
    }
}

int main(int argc, char **argv)
{
    return runMatrix(argc, argv, addRows, Operation::Download);
}
