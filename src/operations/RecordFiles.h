#pragma once

#include "operations/FlatImage.h"

#include <QByteArray>
#include <QString>

namespace zq::ops
{

// The two text formats developers' tools write: Intel HEX and Motorola S-record. Recognised by
// their first line, whatever the file is called.
bool looksLikeIntelHex(const QByteArray &head);
bool looksLikeSRecords(const QByteArray &head);

// Every record is checked (characters, length, checksum, type); the first bad one refuses the
// whole file with its line number, and so does a file without its end record, which is how a
// cut-off copy shows. Nothing of a refused file is used.
bool readIntelHex(const QByteArray &text, LoadedData &data, QString &problem);
bool readSRecords(const QByteArray &text, LoadedData &data, QString &problem);

} // namespace zq::ops
