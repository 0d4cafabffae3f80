#pragma once

// A thread of this process found by its name (Qt names a QThread after its class), for the tests
// and benchmarks that look at where the worker runs. Linux only.

#include <QDir>
#include <QFile>

// The thread id, or 0 when no thread has that name.
inline int threadNamed(const QByteArray &name)
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            return task.toInt();
    }
    return 0;
}
