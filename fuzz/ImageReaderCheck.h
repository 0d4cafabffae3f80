#pragma once

// What every reader of an image file promises, whatever the file holds: a refused file yields
// nothing and says why; an accepted one yields at most 16 MiB from a base the target is written
// from; and reading costs at most three times the image it makes (16 MiB for a refused file),
// plus a fixed amount. The heap is measured with the sanitizer's allocation hooks.
#include "FuzzCheck.h"
#include "operations/FlatImage.h"
#include "operations/ImageFile.h"

#include <QBuffer>
#include <QByteArray>

#include <sanitizer/allocator_interface.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zq::fuzz
{

inline std::atomic<long long> heapInUse{0};
inline std::atomic<long long> heapPeak{0};

inline void countAllocation(const volatile void *, size_t size)
{
    const long long now = heapInUse.fetch_add((long long)size) + (long long)size;
    long long peak = heapPeak.load();
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
}

inline void countRelease(const volatile void *pointer)
{
    heapInUse.fetch_sub(
        (long long)__sanitizer_get_allocated_size(const_cast<const void *>(pointer)));
}

constexpr long long kFixedCost = 1 << 20;

inline void checkImageReader(const uint8_t *data, size_t size, ops::ImageFormat format)
{
    static const bool hooked =
        __sanitizer_install_malloc_and_free_hooks(countAllocation, countRelease) != 0;
    ZQ_FUZZ_CHECK(hooked);
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    const long long before = heapInUse.load();
    heapPeak.store(before);
    const ops::LoadedImage image = ops::loadImageAs(file, format);
    const long long cost = heapPeak.load() - before;

    const bool ready = image.status == ops::LoadedImage::Status::Ready;
    ZQ_FUZZ_CHECK(image.status != ops::LoadedImage::Status::Unreadable);
    ZQ_FUZZ_CHECK(ready || (image.bytes.isEmpty() && !image.problem.isEmpty()));
    ZQ_FUZZ_CHECK(image.bytes.size() <= ops::kLargestImage);
    ZQ_FUZZ_CHECK(image.base == 0 || image.base == 0x08000000 || image.base == 0x10000000);
    const long long yielded = ready ? image.bytes.size() : ops::kLargestImage;
    if (cost > 3 * yielded + kFixedCost)
        std::fprintf(stderr, "cost %lld yielded %lld\n", cost, yielded);
    ZQ_FUZZ_CHECK(cost <= 3 * yielded + kFixedCost);

    // Told apart by content, the same file is read the same way or refused as text.
    file.seek(0);
    const ops::LoadedImage detected = ops::loadCodeImageFrom(file);
    if (detected.format == format && detected.status == ops::LoadedImage::Status::Ready)
        ZQ_FUZZ_CHECK(detected.bytes == image.bytes);
}

} // namespace zq::fuzz
