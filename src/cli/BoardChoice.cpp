#include "cli/BoardChoice.h"

namespace zq::cli
{

namespace
{

QString listed(const QStringList &paths)
{
    return QStringLiteral("\n  ") + paths.join(QStringLiteral("\n  "));
}

} // namespace

BoardChoice chooseBoard(const QStringList &found, const QString &wanted)
{
    BoardChoice choice;
    if (!wanted.isEmpty()) {
        if (found.contains(wanted))
            choice.path = wanted;
        else if (found.isEmpty())
            choice.error = QStringLiteral("no programmer at ") + wanted +
                           QStringLiteral("; no programmer was found");
        else
            choice.error = QStringLiteral("no programmer at ") + wanted +
                           QStringLiteral("; found:") + listed(found);
        return choice;
    }
    if (found.size() == 1)
        choice.path = found.first();
    else if (found.isEmpty())
        choice.error = QStringLiteral("no programmer found; is it plugged in?");
    else
        choice.error =
            QStringLiteral("several programmers found; pick one with --device:") + listed(found);
    return choice;
}

} // namespace zq::cli
