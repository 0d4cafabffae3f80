#include "cli/Version.h"

#include "cli/JsonSchema.h"

namespace zq::cli
{

QString programVersion()
{
    return QStringLiteral(ZQ_PROGRAM_VERSION);
}

QString buildDescription()
{
    return QStringLiteral(ZQ_BUILD_DESCRIPTION);
}

QString versionLine()
{
    return QStringLiteral("zqprog ") + programVersion() + QStringLiteral(" (build ") +
           buildDescription() + QLatin1Char(')');
}

QJsonObject versionObject()
{
    return {{QStringLiteral("kind"), QStringLiteral("version")},
            {QStringLiteral("schemaVersion"), kJsonSchemaVersion},
            {QStringLiteral("program"), QStringLiteral("zqprog")},
            {QStringLiteral("version"), programVersion()},
            {QStringLiteral("build"), buildDescription()}};
}

} // namespace zq::cli
