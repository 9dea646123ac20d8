#pragma once

#include <QObject>
#include <QSet>

class frmMain;

// Keeps count of what keeps an editor process alive: its loaded editor
// windows and the window objects automation clients hold. lastReleased is
// emitted when the last of them goes; the process then ends.
class InstanceLife : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Held until the window unloads (or is destroyed without unloading).
    void holdWindow(frmMain *window);
    // Held until release() or until `holder` is destroyed.
    void hold(QObject *holder);
    void release(QObject *holder);

    bool isEmpty() const { return m_holders.isEmpty(); }
    qsizetype count() const { return m_holders.size(); }

signals:
    void lastReleased();

private:
    QSet<QObject *> m_holders;
};
