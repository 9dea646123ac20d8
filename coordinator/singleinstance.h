#pragma once

#include <QLockFile>
#include <QString>

// Makes sure only one coordinator per user runs. The claim is a lock file next
// to the socket, held for the life of this object; a lock left by a killed
// coordinator is recognised as stale (its process is gone) and taken over.
class SingleInstance
{
public:
    explicit SingleInstance(const QString &serverName);

    // True when this process is now the only coordinator for serverName and
    // may listen on it: no live process holds the lock and nobody answers on
    // the socket. A socket file left by a killed coordinator is removed.
    // False means another coordinator is running.
    bool claim();

    static QString lockFilePath(const QString &serverName);
    // The socket file a client connecting to serverName opens.
    static QString socketPath(const QString &serverName);

private:
    QString m_serverName;
    QLockFile m_lock;
};
