#pragma once

// The rows of both programmer updates: each fault switch on the first, a middle and the last
// image block, the embedded flash check and the switch to the other resident program. The two
// updates log alike and differ only in the buttons they leave.

#include "FaultBench.h"

namespace faultbench
{

// Blocks go to 0, 0x1000 and 0x2000 (the short one); block replies are only validated, and a
// damaged one logs no CRC line. The switch's result is not looked at: the update is OK whatever
// became of it. A switch the board never answered still restarts the board, which leaves the bus
// and comes back while the host waits; a board that dropped off instead stays away.
inline void addUpdateCases(const ButtonSets &updated, const ButtonSets &notUpdated)
{
    addMatrixColumns();

    const QString image = hex8(referenceCrc(programmerImage()));
    const QStringList started = {kTimer, "Program flash.."};
    const QStringList written = started + QStringList{"Write EFlash end!", kTimer};
    const QStringList checked =
        written + QStringList{"Read crc:" + image, "Check EFlash OK!", kTimer};
    const QStringList done = {"", "Update MCU is OK!!!!!!"};
    const QStringList ok = checked + done;
    const QStringList fail = {"", "Update MCU is fail....."};
    const QString ng = "UPDATE_FLASH NG, Addr : 0x";

    using F = FaultKind;
    const uint32_t addresses[] = {0x0, 0x1000, 0x2000};
    for (int frame = 1; frame <= 3; ++frame) {
        const QString at = ng + QString::number(addresses[frame - 1], 16);
        addCase('J', frame, F::NoReply) << started + QStringList{at + "-2"} + fail << notUpdated;
        addCase('J', frame, F::LateReply) << ok << updated;
        addCase('J', frame, F::WrongLength)
            << started + QStringList{at + "-3"} + fail << notUpdated;
        addCase('J', frame, F::WrongMarker)
            << started + QStringList{at + "-3"} + fail << notUpdated;
        addCase('J', frame, F::BadReplyCrc)
            << started + QStringList{at + "-4"} + fail << notUpdated;
        addCase('J', frame, F::FailingStatus) << ok << updated;
        addCase('J', frame, F::BoardGone)
            << started + QStringList{kRemoved, at + "-2"} + fail << notUpdated;
        addCase('J', frame, F::Latency) << ok << updated;
    }

    addCase('L', 1, F::NoReply) << written + QStringList{"Check EFlash NG!"} + fail << notUpdated;
    addCase('L', 1, F::LateReply) << ok << updated;
    addCase('L', 1, F::WrongLength)
        << written + QStringList{"Check EFlash NG!"} + fail << notUpdated;
    addCase('L', 1, F::WrongMarker)
        << written + QStringList{"Check EFlash NG!"} + fail << notUpdated;
    addCase('L', 1, F::BadReplyCrc)
        << written + QStringList{damaged("CRC error:"), "Check EFlash NG!"} + fail << notUpdated;
    addCase('L', 1, F::FailingStatus)
        << written + QStringList{"Read crc:" + image, "Check EFlash NG!"} + fail << notUpdated;
    addCase('L', 1, F::BoardGone) << written + QStringList{kRemoved, "Check EFlash NG!"} + fail
                                  << notUpdated;
    addCase('L', 1, F::Latency) << ok << updated;

    // The board restarts when its reply is lost: the news of its leaving ends the wait at once,
    // and it comes back after the verdict.
    addCase('O', 1, F::NoReply) << checked + QStringList{kRemoved} + done << updated;
    addCase('O', 1, F::LateReply) << ok << updated;
    addCase('O', 1, F::WrongLength) << ok << updated;
    addCase('O', 1, F::WrongMarker) << ok << updated;
    addCase('O', 1, F::BadReplyCrc) << checked + QStringList{damaged("REQ CRC:")} + done << updated;
    addCase('O', 1, F::FailingStatus) << ok << updated;
    addCase('O', 1, F::BoardGone) << checked + QStringList{kRemoved} + done << updated;
    addCase('O', 1, F::Latency) << ok << updated;
}

} // namespace faultbench
