#include "frontend/NumberText.h"

namespace zq
{

QString toHexText(uint32_t value, int width)
{
    QString digits = QString::number(value, 16).toUpper();
    if (digits.size() < width)
        digits.prepend(QString(width - digits.size(), QLatin1Char('0')));
    return QStringLiteral("0x") + digits;
}

QString toDecText(int32_t value)
{
    return QString::number(value);
}

QString timestampText(const QTime &time)
{
    return QStringLiteral("Timer:") + QString::number(time.hour()) + QLatin1Char(':') +
           QString::number(time.minute()) + QLatin1Char(':') + QString::number(time.second());
}

} // namespace zq
