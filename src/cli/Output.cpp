#include "cli/Output.h"

namespace zq::cli
{

QString phaseName(Phase phase)
{
    switch (phase) {
    case Phase::Write:
        return QStringLiteral("write");
    case Phase::Check:
        return QStringLiteral("check");
    case Phase::Message:
        return QStringLiteral("message");
    }
    return QString();
}

} // namespace zq::cli
