#pragma once

// A PostgreSQL server of the test's own: a fresh cluster in a temporary folder, reached only
// through a Unix socket in that folder (no TCP port), stopped with the object. As root (CI runs
// as root) the cluster belongs to nobody, since the server refuses to run as root.
//
//     PrivatePostgres server;
//     QVERIFY2(server.start(), qPrintable(server.error()));
//     parseStoreAddress(server.connectionString(), &error); // "host=DIR user=zq dbname=postgres"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>

#include <pwd.h>
#include <unistd.h>

class PrivatePostgres
{
public:
    PrivatePostgres() = default;
    ~PrivatePostgres() { stop(); }
    PrivatePostgres(const PrivatePostgres &) = delete;
    PrivatePostgres &operator=(const PrivatePostgres &) = delete;

    // Makes the cluster (user zq, no password) and starts the server; false with error().
    bool start()
    {
        bin_ = binFolder();
        if (bin_.isEmpty())
            return fail(QStringLiteral("no PostgreSQL server binaries (initdb, pg_ctl) in "
                                       "/usr/lib/postgresql/*/bin or on PATH"));
        if (!folder_.isValid() || !giveFolder())
            return fail(QStringLiteral("cannot prepare the folder %1").arg(folder_.path()));
        if (!run(QStringLiteral("initdb"), {"-D", dataFolder(), "-A", "trust", "-U", "zq",
                                            "--no-sync", "--locale=C", "-E", "UTF8"}))
            return false;
        return serve();
    }

    // Starts the server again after stop(), on the same cluster.
    bool serve()
    {
        // From here on stop() runs: a start that timed out may still leave a server behind.
        started_ = true;
        const QString options =
            QStringLiteral("-k '%1' -c listen_addresses='' -c fsync=off").arg(socketFolder());
        if (run(QStringLiteral("pg_ctl"),
                {"-D", dataFolder(), "-l", logPath(), "-w", "-o", options, "start"}))
            return true;
        const QString failure = error_;
        stop();
        return fail(failure);
    }

    void stop()
    {
        if (started_)
            run(QStringLiteral("pg_ctl"), {"-D", dataFolder(), "-m", "fast", "-w", "stop"});
        started_ = false;
    }

    // A fresh database for one test case; false with error().
    bool createDatabase(const QString &name)
    {
        return run(QStringLiteral("createdb"), {"-h", socketFolder(), "-U", "zq", name});
    }

    QString error() const { return error_; }
    QString socketFolder() const { return folder_.path(); }
    QString connectionString(const QString &database = QStringLiteral("postgres")) const
    {
        return QStringLiteral("host=%1 user=zq dbname=%2").arg(socketFolder(), database);
    }

    // The newest installed server's binaries; empty when there are none.
    static QString binFolder()
    {
        QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCollator numeric;
        numeric.setNumericMode(true);
        std::sort(versions.begin(), versions.end(), numeric);
        for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
            const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*it);
            if (QFile::exists(bin + "/initdb") && QFile::exists(bin + "/pg_ctl"))
                return bin;
        }
        const QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
        return initdb.isEmpty() ? QString() : QFileInfo(initdb).path();
    }

private:
    static bool asRoot() { return ::geteuid() == 0; }
    QString dataFolder() const { return folder_.path() + QStringLiteral("/data"); }
    QString logPath() const { return folder_.path() + QStringLiteral("/log"); }

    bool fail(const QString &message)
    {
        error_ = message;
        return false;
    }

    // The server's user owns the folder; others may reach its socket.
    bool giveFolder()
    {
        QFile::setPermissions(folder_.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther | QFile::ReadGroup |
                                                  QFile::ExeGroup);
        if (!asRoot())
            return true;
        const passwd *nobody = ::getpwnam("nobody");
        return nobody && ::chown(QFile::encodeName(folder_.path()).constData(), nobody->pw_uid,
                                 nobody->pw_gid) == 0;
    }

    bool run(const QString &tool, const QStringList &arguments)
    {
        QProcess process;
        process.setWorkingDirectory(folder_.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        const QString program = bin_ + QLatin1Char('/') + tool;
        if (asRoot())
            process.start(QStringLiteral("runuser"),
                          QStringList{"-u", "nobody", "--", program} + arguments);
        else
            process.start(program, arguments);
        const bool ok = process.waitForFinished(120000) &&
                        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!ok) {
            QFile log(logPath());
            const QByteArray logText =
                log.open(QIODevice::ReadOnly) ? log.readAll().right(2000) : QByteArray();
            fail(QStringLiteral("%1 failed: %2 %3\n%4")
                     .arg(tool, process.errorString(), QString::fromLocal8Bit(process.readAll()),
                          QString::fromLocal8Bit(logText)));
        }
        return ok;
    }

    QTemporaryDir folder_{QDir::tempPath() + QStringLiteral("/zq-pg-XXXXXX")};
    QString bin_;
    QString error_;
    bool started_ = false;
};
