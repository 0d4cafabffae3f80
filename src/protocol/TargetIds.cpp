#include "protocol/TargetIds.h"

#include <array>

namespace zq::protocol
{

namespace
{

struct McuType {
    const char *name;
    uint32_t id;
};

constexpr std::array<McuType, kMcuTypeCount> kMcuTypes{{
    {"ZQ0000", kNoTargetId},
    {"ZQ51K02", 0x5A3C5102},
    {"ZQ240y", 0x5A3C2400},
    {"ZQ318", 0x5A3C3180},
    {"ZQ427", 0x5A3C4270},
    {"ZQ436", 0x5A3C4360},
    {"ZQ605", 0x5A3C6050},
}};

bool isTypeIndex(int index)
{
    return index >= 1 && index < kMcuTypeCount;
}

} // namespace

uint32_t targetIdForIndex(int index)
{
    return isTypeIndex(index) ? kMcuTypes[size_t(index)].id : kNoTargetId;
}

int indexForTargetId(uint32_t id)
{
    for (int index = 1; index < kMcuTypeCount; ++index) {
        if (kMcuTypes[size_t(index)].id == id)
            return index;
    }
    return 0;
}

QString mcuTypeName(int index)
{
    if (index < 0 || index >= kMcuTypeCount)
        return QString();
    return QString::fromLatin1(kMcuTypes[size_t(index)].name);
}

} // namespace zq::protocol
