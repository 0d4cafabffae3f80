// The boot update, from a board in normal work with the update allowed by config.ini, under
// every fault switch.

#include "UpdateCases.h"

using namespace faultbench;

// The operation buttons come back either way; Boot update goes only after a switch.
int main(int argc, char **argv)
{
    const auto addRows = [] {
        addUpdateCases(on(kTargetAndFlash), on(withUpdateBoot(kTargetAndFlash)));
    };
    return runMatrix(argc, argv, addRows, Operation::BootUpdate);
}
