#include "InstanceLife.h"

#include "frmMain.h"

void InstanceLife::holdWindow(frmMain *window)
{
    hold(window);
    connect(window, &frmMain::Unload, this, [this, window] { release(window); });
}

void InstanceLife::hold(QObject *holder)
{
    if (m_holders.contains(holder))
        return;
    m_holders.insert(holder);
    connect(holder, &QObject::destroyed, this, [this, holder] { release(holder); });
}

void InstanceLife::release(QObject *holder)
{
    if (!m_holders.remove(holder))
        return;
    disconnect(holder, nullptr, this, nullptr);
    if (m_holders.isEmpty())
        emit lastReleased();
}
