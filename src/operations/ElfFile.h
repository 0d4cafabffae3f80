#pragma once

#include "operations/FlatImage.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace zq::ops
{

bool looksLikeElf(const QByteArray &head);

// The loadable segments of an ELF executable (32 or 64 bits, either byte order), at their
// physical addresses, which is where a linker puts the bytes that go into flash (.data's
// initial values included). Inside a segment the allocated sections are taken, as objcopy
// takes them, so the linker's padding between sections is a gap like any other. Only headers
// and loaded bytes are read, so debugging information of any size costs nothing. False with
// the reason, naming the offset, for a file that is not an executable or whose headers point
// past its end.
bool readElf(QFile &file, LoadedData &data, QString &problem);

} // namespace zq::ops
