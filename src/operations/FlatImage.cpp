#include "operations/FlatImage.h"

#include <algorithm>
#include <new>

namespace zq::ops
{

namespace
{

bool allowedBase(uint64_t address)
{
    return address == 0 || address == 0x08000000 || address == 0x10000000;
}

} // namespace

QString addressText(uint64_t address)
{
    const int width = address > 0xFFFFFFFFu ? 16 : 8;
    return QStringLiteral("0x") +
           QString::number(address, 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

void LoadedData::add(uint64_t address, const QByteArray &bytes, const QString &origin)
{
    if (bytes.isEmpty())
        return;
    // Joining stops at the size limit, so a file cannot make one piece grow without end.
    if (!pieces_.empty() && pieces_.back().end() == address &&
        pieces_.back().bytes.size() <= kLargestImage) {
        pieces_.back().bytes.append(bytes);
        return;
    }
    pieces_.push_back({address, bytes, origin});
}

bool LoadedData::flatten(QByteArray &image, uint32_t &base, QString &problem) const
{
    image.clear();
    base = 0;
    if (pieces_.empty())
        return true;
    std::vector<const Piece *> order;
    for (const Piece &piece : pieces_)
        order.push_back(&piece);
    std::stable_sort(order.begin(), order.end(),
                     [](const Piece *a, const Piece *b) { return a->address < b->address; });
    uint64_t end = 0;
    const Piece *reachesEnd = nullptr;
    for (const Piece *piece : order) {
        if (reachesEnd && piece->address < end) {
            problem = piece->origin + QStringLiteral(": data at ") + addressText(piece->address) +
                      QStringLiteral(" overlaps data from ") + reachesEnd->origin;
            return false;
        }
        end = piece->end();
        reachesEnd = piece;
    }
    const uint64_t lowest = order.front()->address;
    if (!allowedBase(lowest)) {
        problem = QStringLiteral("the image starts at ") + addressText(lowest) +
                  QStringLiteral(" (") + order.front()->origin +
                  QStringLiteral("); it must start at 0x08000000, 0x10000000 or 0, the base of ") +
                  QStringLiteral("the target's flash, which is written from its start");
        return false;
    }
    if (end - lowest > uint64_t(kLargestImage)) {
        problem = QStringLiteral("the image spans ") + addressText(lowest) +
                  QStringLiteral(" to ") + addressText(end - 1) +
                  QStringLiteral(", more than 16 MiB (") + QString::number(kLargestImage) +
                  QStringLiteral(" bytes)");
        return false;
    }
    try {
        image = QByteArray(int(end - lowest), '\xFF');
    } catch (const std::bad_alloc &) {
        problem = QStringLiteral("there is not enough memory for the image");
        return false;
    }
    for (const Piece *piece : order)
        std::copy(piece->bytes.begin(), piece->bytes.end(),
                  image.begin() + int(piece->address - lowest));
    base = uint32_t(lowest);
    return true;
}

} // namespace zq::ops
