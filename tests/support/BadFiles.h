#pragma once

// The files a code or update image must never be read from, or must be refused as: each made
// in a folder of the test's own, with the words zqprog uses for it.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMetaType>
#include <QString>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace zq::test
{

enum class BadKind { Missing, Folder, Fifo, Pipe, DevZero, Empty, Seven, TooLarge, Sparse2GiB };

struct BadFile {
    const char *name;
    BadKind kind;
    bool readable;      // read, but too short: refused as an image, not as a file
    const char *reason; // zqprog's words after "FILE: "
};

inline const QList<BadFile> &badFiles()
{
    static const QList<BadFile> files = {
        {"missing", BadKind::Missing, false, "does not exist"},
        {"folder", BadKind::Folder, false, "is a folder"},
        {"fifo", BadKind::Fifo, false, "is not a regular file (a pipe, socket or device)"},
        {"pipe", BadKind::Pipe, false, "is not a regular file (a pipe, socket or device)"},
        {"/dev/zero", BadKind::DevZero, false, "is not a regular file (a pipe, socket or device)"},
        {"empty", BadKind::Empty, true, "holds 0 bytes; an image needs at least 8"},
        {"7 bytes", BadKind::Seven, true, "holds 7 bytes; an image needs at least 8"},
        {"16 MiB + 1", BadKind::TooLarge, false, "is too large"},
        {"sparse 2 GiB", BadKind::Sparse2GiB, false, "is too large"},
    };
    return files;
}

// Makes the file of that kind as folder/name (a pipe: the read end of a pipe holding a few
// bytes, named through /proc, whose write end stays open in this process; pipeName stands in
// for a pipe in another process, e.g. "/dev/stdin" of a child). Empty on failure.
inline QString makeBadFile(BadKind kind, const QString &folder, const QString &name,
                           const QString &pipeName = QString())
{
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    switch (kind) {
    case BadKind::Missing:
        return path;
    case BadKind::Folder:
        return QDir().mkpath(path) ? path : QString();
    case BadKind::Fifo:
        return mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
    case BadKind::Pipe: {
        if (!pipeName.isEmpty())
            return pipeName;
        int ends[2];
        if (pipe(ends) != 0 || write(ends[1], "\x00\x10\x00\x20\x45\x01\x00\x08", 8) != 8)
            return QString();
        return QStringLiteral("/proc/self/fd/") + QString::number(ends[0]);
    }
    case BadKind::DevZero:
        return QStringLiteral("/dev/zero");
    case BadKind::Empty:
    case BadKind::Seven:
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(QByteArray(kind == BadKind::Seven ? 7 : 0, '\x01'));
        return path;
    case BadKind::TooLarge:
    case BadKind::Sparse2GiB:
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        return file.resize(kind == BadKind::TooLarge ? (qint64(16) << 20) + 1 : qint64(2) << 30)
                   ? path
                   : QString();
    }
    return QString();
}

// A link to a FIFO or to a character device (1,3; only root may make it), both made in the
// test's own folder, never in the system's /dev: a wrong replace then hits only the test's node.
enum class NodeKind { Fifo, CharDevice };

// folder/name, linking to folder/name.node; empty when either cannot be made.
inline QString makeLinkToNode(NodeKind kind, const QString &folder, const QString &name)
{
    const QString link = QDir(folder).filePath(name);
    const QByteArray node = QFile::encodeName(link + QStringLiteral(".node"));
    const int made =
        kind == NodeKind::Fifo ? mkfifo(node, 0600) : mknod(node, S_IFCHR | 0600, makedev(1, 3));
    return made == 0 && symlink(node, QFile::encodeName(link)) == 0 ? link : QString();
}

inline bool linkedNodeIntact(NodeKind kind, const QString &link)
{
    struct stat status {
    };
    const QByteArray name = QFile::encodeName(link);
    if (lstat(name, &status) != 0 || !S_ISLNK(status.st_mode) || stat(name, &status) != 0)
        return false;
    return kind == NodeKind::Fifo ? S_ISFIFO(status.st_mode) : S_ISCHR(status.st_mode);
}

} // namespace zq::test

Q_DECLARE_METATYPE(zq::test::NodeKind)

namespace zq::test
{

// A data function's rows: a link to each kind of node.
inline void addLinkedNodeRows()
{
    QTest::addColumn<NodeKind>("kind");
    QTest::newRow("FIFO") << NodeKind::Fifo;
    QTest::newRow("character device") << NodeKind::CharDevice;
}

// Only root may make a device node.
inline bool mayMakeNode(NodeKind kind)
{
    return kind == NodeKind::Fifo || geteuid() == 0;
}

} // namespace zq::test
