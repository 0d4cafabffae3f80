// The firmware update, from a board that runs its boot loader, under every fault switch.

#include "UpdateCases.h"

using namespace faultbench;

// The operation buttons come back either way; Firmware update goes only after a switch.
int main(int argc, char **argv)
{
    const auto addRows = [] {
        addUpdateCases(on(kTargetAndFlash), on(withUpdateApp(kTargetAndFlash)));
    };
    return runMatrix(argc, argv, addRows, Operation::FirmwareUpdate);
}
