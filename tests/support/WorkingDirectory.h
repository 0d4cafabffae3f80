#pragma once

#include <QDir>
#include <QTemporaryDir>

// An empty folder made current for the life of the object: config.ini is read from and written
// to the current directory, so every window under test gets a folder of its own.
class WorkingDirectory
{
public:
    WorkingDirectory() : previous(QDir::currentPath())
    {
        if (!folder.isValid() || !QDir::setCurrent(folder.path()))
            qFatal("cannot make a temporary working directory");
    }
    ~WorkingDirectory() { QDir::setCurrent(previous); }

    QString path() const { return QDir::currentPath(); }
    QString filePath(const QString &name) const { return path() + QLatin1Char('/') + name; }

private:
    QString previous;
    QTemporaryDir folder;
};
