// The boot update, from a board in normal work with the update allowed by config.ini, under
// every fault switch.

#include "UpdateCases.h"

#include <QtTest>

using namespace faultbench;

class BootUpdateFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { unplugEverything(); }
    void cleanup() { unplugEverything(); }

    // The operation buttons come back either way; Boot update goes only after a switch.
    void bootUpdateUnderFaults_data()
    {
        addUpdateCases(on(kTargetAndFlash), on(withUpdateBoot(kTargetAndFlash)));
    }
    void bootUpdateUnderFaults() { runCase(Operation::BootUpdate); }
};

QTEST_MAIN(BootUpdateFaultsTest)
#include "test_faults_boot_update.moc"
