#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace zq::config
{

// Flash.ini in the current working directory. The program only ever reads it.
QString flashCatalogPath();

// Converts the collected characters of one number field. "0x"-style text (any first character,
// then 'x' or 'X') of 3 to 10 characters is hexadecimal, a stray non-hex character in it counting
// as 0; anything else is a signed 32-bit decimal. Whatever does not fit those rules gives 0.
int32_t parseNumber(const QByteArray &collected);

struct FlashEntry {
    bool matched = false;
    int32_t size = 0;     // the product as the 32-bit multiplication gives it (what is shown)
    int64_t fullSize = 0; // the product itself; differs from size when that is out of range
    QString name;
};

// One catalogue line, Latin-1, line end removed: id, first factor, second factor and name, each
// ended by a comma. True when the id field is complete and equals flashId; entry is filled then
// and left alone otherwise. A missing factor counts as 0.
bool parseFlashLine(const QByteArray &line, uint32_t flashId, FlashEntry *entry);

// The first matching entry in file order; "[FLASH]" header lines are skipped. A missing or
// unreadable catalogue, or one that is not a regular file, simply matches nothing.
FlashEntry findFlash(const QString &catalogPath, uint32_t flashId);

} // namespace zq::config
