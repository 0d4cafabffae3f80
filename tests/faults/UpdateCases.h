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

    FrameRows rows;
    rows.before = started;
    rows.after = fail;
    rows.ok = ok;
    rows.failed = notUpdated;
    rows.passed = updated;
    for (int frame = 1; frame <= 3; ++frame) {
        const QString at = ng + QString::number((frame - 1) * 0x1000, 16);
        rows.lost = QStringList{at + "-2"};
        rows.malformed = QStringList{at + "-3"};
        rows.damagedCrc = QStringList{at + "-4"};
        addFrameRows('J', frame, rows);
    }

    rows.before = written;
    rows.lost = rows.malformed = QStringList{"Check EFlash NG!"};
    rows.damagedCrc = QStringList{damaged("CRC error:"), "Check EFlash NG!"};
    rows.failing = QStringList{"Read crc:" + image, "Check EFlash NG!"};
    addFrameRows('L', 1, rows);

    using F = FaultKind;
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
