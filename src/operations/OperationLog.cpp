#include "operations/OperationLog.h"

#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"

#include <QTime>

namespace zq::ops
{

void logTimestamp(FrontEnd &frontEnd)
{
    frontEnd.appendLog(timestampText(QTime::currentTime()));
}

QString blockFailureLine(const QString &prefix, uint32_t address, int result)
{
    return prefix + QString::number(address, 16) + toDecText(result);
}

} // namespace zq::ops
