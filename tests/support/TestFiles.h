#pragma once

#include <QFile>
#include <QTemporaryDir>

// A test's own folder of files.
struct TestFiles
{
    QTemporaryDir dir;

    QString path(const QString &name) const { return dir.filePath(name); }
    // Writes `bytes` to `name`, made writable first, and returns its path.
    QString write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(f.fileName()));
        return f.fileName();
    }
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};
