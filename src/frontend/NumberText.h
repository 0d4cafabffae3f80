#pragma once

#include <QString>
#include <QTime>
#include <cstdint>

namespace zq
{

// "0x" and upper-case hex digits, zero-padded to width; never cut.
QString toHexText(uint32_t value, int width);

// Signed decimal, no padding.
QString toDecText(int32_t value);

// "Timer:" + hour:minute:second without leading zeros, e.g. Timer:9:5:7.
QString timestampText(const QTime &time);

} // namespace zq
