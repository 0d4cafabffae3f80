#include "operations/ImageBlocks.h"

#include <algorithm>

namespace zq::ops
{

void ImageBlocks::stage(std::vector<uint8_t> &staging, int offset, int count) const
{
    staging.assign(kBlockSize, 0xFF);
    const auto *from = reinterpret_cast<const uint8_t *>(image.constData()) + offset;
    std::copy(from, from + count, staging.begin());
}

int ImageBlocks::progressAfter(int blocksDone) const
{
    if (image.isEmpty())
        return 0;
    return int(int64_t(blocksDone) * kBlockSize * 100 / image.size());
}

} // namespace zq::ops
