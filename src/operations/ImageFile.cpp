#include "ImageFile.h"

#include <QFile>

#include <limits>

namespace zq::ops
{

bool readImageFile(const QString &path, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size > std::numeric_limits<int32_t>::max())
        return false;
    QByteArray read = file.read(size);
    if (read.size() != size)
        return false;
    bytes = std::move(read);
    return true;
}

} // namespace zq::ops
