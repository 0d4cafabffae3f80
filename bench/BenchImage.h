#pragma once

#include <QByteArray>

namespace zq::bench
{

// A target code image of the given size (at least 8 bytes) that passes the running-address
// check: the sample image's first bytes, then a pattern that differs from block to block.
QByteArray benchCodeImage(int size);

} // namespace zq::bench
