#pragma once

#include "operations/FlatImage.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace zq::ops
{

// The two text formats developers' tools write: Intel HEX and Motorola S-record. Recognised by
// their first line, whatever the file is called.
bool looksLikeIntelHex(const QByteArray &line);

// UTF-8's byte-order mark, which some editors put before the first record.
inline const QByteArray kByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");
bool looksLikeSRecords(const QByteArray &line);

// Reads the records from the file's position on, line by line. Every
// record is checked (characters, length, checksum, type; data past 32-bit addresses or over
// data already read); the first bad one refuses the whole file with its line number, and so
// does a file without its end record, which is how a cut-off copy shows. Nothing of a refused
// file is used. A byte-order mark before the first record is skipped. The records then make
// one flat image (see FlatImage), from base.
bool readIntelHex(QIODevice &file, QByteArray &image, uint32_t &base, QString &problem);
bool readSRecords(QIODevice &file, QByteArray &image, uint32_t &base, QString &problem);

// "line 12"
QString lineName(uint64_t number);

} // namespace zq::ops
