#include "InstanceLock.h"

#include <QStandardPaths>

InstanceLock::InstanceLock() : m_lock(path())
{
    // Held for as long as the instance runs, so it must never go stale by
    // age; a holder that died is still detected by its process id.
    m_lock.setStaleLockTime(0);
    m_first = m_lock.tryLock(0);
}

QString InstanceLock::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/OstrelEdit.lock");
}
