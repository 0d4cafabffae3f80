#include "common/DeveloperLog.h"

Q_LOGGING_CATEGORY(zqUsb, "zq.usb", QtWarningMsg)
Q_LOGGING_CATEGORY(zqProtocol, "zq.protocol", QtWarningMsg)
Q_LOGGING_CATEGORY(zqOperations, "zq.operations", QtWarningMsg)
