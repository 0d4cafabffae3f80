#pragma once

#include "operations/FlatImage.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace zq::ops
{

bool looksLikeElf(const QByteArray &head);

// The loadable segments of an ELF executable (32 or 64 bits, either byte order), at their
// physical addresses, which is where a linker puts the bytes that go into flash (.data's
// initial values included). Inside a segment the allocated sections are taken, as objcopy
// takes them, so the linker's padding between sections is a gap like any other. Only headers
// and loaded bytes are read, each piece straight into its place in the image once its place
// is known to be free, so neither debugging information nor segments that repeat the same
// bytes cost memory. False with the reason, naming the offset or segment, for a file that is
// not an executable, whose headers point past its end, or whose data would not fit a 32-bit
// target, or that does not make a flat image (see FlatImage).
bool readElf(QIODevice &file, QByteArray &image, uint32_t &base, QString &problem);

} // namespace zq::ops
