#pragma once

#include <QLoggingCategory>

// Developer logging, one category per layer, for what the user's log never shows: frames out,
// replies in, time-outs, cancellations, transfers that fail or are aborted. Every category is
// off by default (only warnings pass); QT_LOGGING_RULES="zq.*.debug=true" turns them all on,
// "zq.protocol.debug=true" one of them. The user's log lines never depend on them.
Q_DECLARE_LOGGING_CATEGORY(zqUsb)        // "zq.usb": the worker's transfers, open and close
Q_DECLARE_LOGGING_CATEGORY(zqProtocol)   // "zq.protocol": frames, replies, waits that give up
Q_DECLARE_LOGGING_CATEGORY(zqOperations) // "zq.operations": what each operation came to
