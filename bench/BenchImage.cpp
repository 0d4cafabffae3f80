#include "BenchImage.h"

#include "SampleImages.h"

#include <algorithm>

namespace zq::bench
{

QByteArray benchCodeImage(int size)
{
    const QByteArray sample = samples::demoCodeImage();
    QByteArray image(std::max(size, 8), Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 13 + i / 4096) & 0xFF);
    std::copy_n(sample.constData(), std::min(sample.size(), 4096), image.data());
    return image.left(size);
}

} // namespace zq::bench
