#pragma once

#include <QByteArray>
#include <QString>

namespace zq::ops
{

// Reads a whole image file. False when it cannot be opened, when its size does not fit the
// signed 32-bit length the protocol and the log use, or when it yields fewer bytes than its
// size: each of these is "cannot read the file" to the user, and nothing is sent.
bool readImageFile(const QString &path, QByteArray &bytes);

} // namespace zq::ops
