// Unplugging the board during each phase of the operations on the programmer itself: identify,
// the blocks, the flash checks, the message block, the update's check and switch.

#include "UnplugCases.h"

using namespace faultbench;

// Waits the board never answers run out; a removal seen between blocks ends the operation at
// once with its own line. Whatever the phase, the operation ends with its failure verdict
// (the switch's result excepted), and the buttons come back as after any failure.
static void addRows()
{
    addUnplugColumns();

    const QString image = crcText(codeImage());
    const QString record = crcText(messageBlock().left(504));
    const QStringList openFailed = {"Open the programmer ok...", kRemoved,
                                    "Fail to connect the programmer..."};
    addPhase("open: identify", Operation::Open, 'K', 1) << openFailed << kNoButtons;

    const QStringList started = {kTimer, "Start to download ..."};
    const QStringList written = started + QStringList{"Download end!", kTimer};
    const QStringList checked =
        written + QStringList{"Check CRC:" + image, "Write spi flash OK!", "Check crc pass.",
                              "Save message to flash", "Message to crc:" + record};
    const QStringList failed = {"", "Download to the programmer flash is fail....."};
    addPhase("download: between blocks", Operation::Download, 0, kBetweenBlocks)
        << started + QStringList{kRemoved, "The programmer is disconnected!"} + failed
        << kTargetAndFlash;
    addPhase("download: blocks", Operation::Download, 'H', 2)
        << started + QStringList{kRemoved, "NG, Addr : 0x11000-2"} + failed << kTargetAndFlash;
    addPhase("download: image check", Operation::Download, 'I', 1)
        << written + QStringList{kRemoved} + failed << kTargetAndFlash;
    addPhase("download: message block", Operation::Download, 'H', 4)
        << checked + QStringList{kRemoved, "Write SPI Flash, Addr : 0x0-2"} + failed
        << kTargetAndFlash;
    addPhase("download: message check", Operation::Download, 'I', 2)
        << checked + QStringList{kRemoved} + failed << kTargetAndFlash;

    addPhase("flash check: check", Operation::CheckFlash, 'I', 1)
        << QStringList{"", "", kRemoved, "Check programmer flash CRC is NG..."} << kTargetAndFlash;

    const QString update = crcText(programmerImage());
    const QStringList programming = {kTimer, "Program flash.."};
    const QStringList flashWritten = programming + QStringList{"Write EFlash end!", kTimer};
    const QStringList flashChecked =
        flashWritten + QStringList{"Read crc:" + update, "Check EFlash OK!", kTimer};
    const QStringList notUpdated = {"", "Update MCU is fail....."};
    const QStringList updated = {"", "Update MCU is OK!!!!!!"};
    const struct {
        Operation operation;
        const char *name;
        QStringList notSwitched;
    } updates[] = {{Operation::FirmwareUpdate, "firmware update", withUpdateApp(kTargetAndFlash)},
                   {Operation::BootUpdate, "boot update", withUpdateBoot(kTargetAndFlash)}};
    for (const auto &kind : updates) {
        const QByteArray name = kind.name;
        addPhase(name + ": between blocks", kind.operation, 0, kBetweenBlocks)
            << programming + QStringList{kRemoved, "The programmer boot is disconnected!"} +
                   notUpdated
            << kind.notSwitched;
        addPhase(name + ": blocks", kind.operation, 'J', 2)
            << programming + QStringList{kRemoved, "UPDATE_FLASH NG, Addr : 0x1000-2"} + notUpdated
            << kind.notSwitched;
        addPhase(name + ": check", kind.operation, 'L', 1)
            << flashWritten + QStringList{kRemoved, "Check EFlash NG!"} + notUpdated
            << kind.notSwitched;
        // The switch's result is not looked at.
        addPhase(name + ": switch", kind.operation, 'O', 1)
            << flashChecked + QStringList{kRemoved} + updated << kTargetAndFlash;
    }
}

int main(int argc, char **argv)
{
    return runMatrix(argc, argv, addRows, runUnplugCase);
}
