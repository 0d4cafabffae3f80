#include "operations/FlatImage.h"

#include <algorithm>

namespace zq::ops
{

namespace
{

constexpr uint64_t kWindow = uint64_t(kLargestImage);
constexpr uint64_t kAddressSpace = uint64_t(1) << 32;
constexpr uint64_t kBases[] = {0, 0x08000000, 0x10000000};

bool allowedBase(uint64_t address)
{
    return std::find(std::begin(kBases), std::end(kBases), address) != std::end(kBases);
}

// The window of 16 MiB from an allowed base that holds [address, end); false when none does.
bool windowOf(uint64_t address, uint64_t end, uint64_t &base)
{
    for (const uint64_t candidate : kBases)
        if (address >= candidate && end <= candidate + kWindow) {
            base = candidate;
            return true;
        }
    return false;
}

uint64_t bitsBetween(uint64_t from, uint64_t count)
{
    return (count >= 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1) << from;
}

} // namespace

QString addressText(uint64_t address)
{
    const int width = address > 0xFFFFFFFFu ? 16 : 8;
    return QStringLiteral("0x") +
           QString::number(address, 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

QString overlapText(const QString &origin, uint64_t address, const QString &earlier)
{
    return origin + QStringLiteral(": data at ") + addressText(address) +
           QStringLiteral(" overlaps data from ") + earlier;
}

QString pastAddressText(const QString &origin, uint64_t address, uint64_t size)
{
    return origin + QStringLiteral(": ") + QString::number(size) + QStringLiteral(" bytes at ") +
           addressText(address) +
           QStringLiteral(" end past 0xFFFFFFFF; the target's addresses have 32 bits");
}

FlatImage::Placement FlatImage::place(uint64_t address, uint64_t size, uint64_t origin)
{
    if (size == 0)
        return {Placement::Outside};
    if (address >= kAddressSpace || size > kAddressSpace - address)
        return {Placement::PastAddress};
    const uint64_t end = address + size;
    if (empty_ || address < lowest_) {
        lowest_ = address;
        lowestOrigin_ = origin;
    }
    end_ = empty_ ? end : std::max(end_, end);
    empty_ = false;
    if (!windowSet_)
        windowSet_ = windowOf(address, end, window_);
    if (!windowSet_ || address < window_ || end > window_ + kWindow)
        return {Placement::Outside};
    grow(end - window_);
    uint64_t overlapAt = 0;
    if (!takeFree(address - window_, end - window_, overlapAt))
        return {Placement::Overlap, nullptr, overlapAt};
    windowEnd_ = std::max(windowEnd_, end);
    return {Placement::Into, bytes_.data() + (address - window_)};
}

// By half again each time, so that a file of many small pieces does not copy the image for each,
// and the room held beside the image stays small.
void FlatImage::grow(uint64_t length)
{
    const uint64_t had = uint64_t(bytes_.size());
    if (length <= had)
        return;
    const uint64_t size = std::min(kWindow, std::max(length, had + had / 2));
    // Exactly that much: left to themselves both would round up, to twice the largest image.
    bytes_.reserve(int(size));
    bytes_.resize(int(size));
    std::fill(bytes_.begin() + int(had), bytes_.end(), '\xFF');
    taken_.reserve(size_t((size + 63) / 64));
    taken_.resize(size_t((size + 63) / 64), 0);
}

bool FlatImage::takeFree(uint64_t from, uint64_t to, uint64_t &overlapAt)
{
    for (uint64_t at = from; at < to;) {
        const uint64_t bit = at % 64, count = std::min(64 - bit, to - at);
        const uint64_t clash = taken_[size_t(at / 64)] & bitsBetween(bit, count);
        if (clash != 0) {
            overlapAt = window_ + (at - bit) + uint64_t(__builtin_ctzll(clash));
            return false;
        }
        at += count;
    }
    for (uint64_t at = from; at < to;) {
        const uint64_t bit = at % 64, count = std::min(64 - bit, to - at);
        taken_[size_t(at / 64)] |= bitsBetween(bit, count);
        at += count;
    }
    return true;
}

bool FlatImage::finish(QByteArray &image, uint32_t &base, QString &problem,
                       const std::function<QString(uint64_t origin)> &originText)
{
    image.clear();
    base = 0;
    if (empty_)
        return true;
    if (!allowedBase(lowest_)) {
        problem = QStringLiteral("the image starts at ") + addressText(lowest_) +
                  QStringLiteral(" (") + originText(lowestOrigin_) +
                  QStringLiteral("); it must start at 0x08000000, 0x10000000 or 0, the base of ") +
                  QStringLiteral("the target's flash, which is written from its start");
        return false;
    }
    if (end_ - lowest_ > kWindow) {
        problem = QStringLiteral("the image spans ") + addressText(lowest_) +
                  QStringLiteral(" to ") + addressText(end_ - 1) +
                  QStringLiteral(", more than 16 MiB (") + QString::number(kLargestImage) +
                  QStringLiteral(" bytes)");
        return false;
    }
    // Every piece lay in the window from the lowest address, the one allowed base below them.
    bytes_.resize(int(windowEnd_ - window_));
    bytes_.squeeze();
    image = std::move(bytes_);
    bytes_ = QByteArray();
    taken_ = std::vector<uint64_t>();
    base = uint32_t(lowest_);
    return true;
}

} // namespace zq::ops
