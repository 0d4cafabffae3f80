#include "ui/FormFonts.h"

namespace zq
{

namespace
{

QFont makeFont(const QString &family, int pointSize, int weight)
{
    QFont font;
    font.setFamily(family);
    font.setPointSize(pointSize);
    font.setWeight(weight);
    return font;
}

} // namespace

QFont windowFont()
{
    return makeFont(QString::fromUtf8("微软雅黑"), 8, QFont::Bold);
}

QFont controlFont()
{
    return makeFont(QStringLiteral("Arial"), 9, QFont::Bold);
}

QFont logFont()
{
    return makeFont(QStringLiteral("Arial"), 10, QFont::Bold);
}

QFont progressFont()
{
    return makeFont(QStringLiteral("Arial"), 9, QFont::Normal);
}

} // namespace zq
