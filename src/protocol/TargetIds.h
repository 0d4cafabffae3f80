#pragma once

#include <QString>

#include <cstdint>

namespace zq::protocol
{

// The MCU types the programmer can program, as indexes of the MCU type list and as the 32-bit
// target ids the programmer reports and expects. Index 0 is the entry without a type.
constexpr int kMcuTypeCount = 7;
constexpr uint32_t kNoTargetId = 0x5A3C0000;

// The id for a list index; kNoTargetId for 0 and for any index outside 1..6.
uint32_t targetIdForIndex(int index);

// The list index of an id; 0 for kNoTargetId and for an id not in the table.
int indexForTargetId(uint32_t id);

// The type's name as the MCU type list shows it ("ZQ318"); empty outside 0..6.
QString mcuTypeName(int index);

} // namespace zq::protocol
