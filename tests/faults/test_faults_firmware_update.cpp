// The firmware update, from a board that runs its boot loader, under every fault switch.

#include "UpdateCases.h"

#include <QtTest>

using namespace faultbench;

class FirmwareUpdateFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { unplugEverything(); }
    void cleanup() { unplugEverything(); }

    // The operation buttons come back either way; Firmware update goes only after a switch.
    void firmwareUpdateUnderFaults_data()
    {
        addUpdateCases(on(kTargetAndFlash), on(withUpdateApp(kTargetAndFlash)));
    }
    void firmwareUpdateUnderFaults() { runCase(Operation::FirmwareUpdate); }
};

QTEST_MAIN(FirmwareUpdateFaultsTest)
#include "test_faults_firmware_update.moc"
