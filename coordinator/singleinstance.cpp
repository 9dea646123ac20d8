#include "singleinstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

SingleInstance::SingleInstance(const QString &serverName)
    : m_serverName(serverName)
    , m_lock(lockFilePath(serverName))
{
    // A running coordinator may hold the lock for days; only a dead holder
    // makes it stale.
    m_lock.setStaleLockTime(0);
}

QString SingleInstance::socketPath(const QString &serverName)
{
    // Where QLocalSocket looks: a name that is not a path is in the temp folder.
    return QFileInfo(serverName).isAbsolute() ? serverName : QDir(QDir::tempPath()).filePath(serverName);
}

QString SingleInstance::lockFilePath(const QString &serverName)
{
    return socketPath(serverName) + QLatin1String(".lock");
}

bool SingleInstance::claim()
{
    if (!m_lock.tryLock(0) && m_lock.error() == QLockFile::LockFailedError)
        return false;
    // Holding the lock (or unable to create it at all, when the socket is the
    // only evidence left): someone answering is still a running coordinator.
    QLocalSocket probe;
    probe.connectToServer(m_serverName);
    if (probe.waitForConnected(1000))
        return false;
    // Nobody answers, so a socket file there is stale and would make listen() fail.
    QLocalServer::removeServer(m_serverName);
    return true;
}
