#pragma once

#include <QLockFile>
#include <QString>

// The previous-instance test: a per-user lock file in the runtime folder,
// held by the first running editor instance for its whole life. An instance
// that finds it held is not the first; a lock left behind by an instance
// that died is taken over.
class InstanceLock
{
public:
    InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // This instance holds the lock: no other instance was running.
    bool isFirst() const { return m_first; }

    static QString path();

private:
    QLockFile m_lock;
    bool m_first = false;
};
