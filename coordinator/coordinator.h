#pragma once

#include "windowsystem.h"

#include <QLocalServer>
#include <QObject>
#include <QStringList>
#include <QTimer>

class QLocalSocket;

// Keeps the ordered list of registered editor windows of all editor processes
// and serves the command protocol of ddecommand.h on a local socket.
//
// Commands are executed one at a time on the thread that owns this object, in
// the order their lines are read; a command whose line was complete is
// executed even if its client has disconnected since. Mended cases, none of
// which ends the program: a duplicate ADD keeps the one entry, REMOVE of an
// unknown handle changes nothing, ADD without a valid handle is refused and
// changes nothing, TILE_VERTICAL on an empty list does nothing.
//
// Every second the list is swept of windows whose title length is 0 (gone).
class Coordinator : public QObject
{
    Q_OBJECT

public:
    // windowSystem must outlive the coordinator.
    explicit Coordinator(WindowSystem &windowSystem, QObject *parent = nullptr);
    ~Coordinator() override;

    // Starts serving on serverName, accessible to this user only. The caller
    // has made sure no other coordinator serves that name.
    bool listen(const QString &serverName);
    QString errorString() const;

    // The registered handles in registration order, as the clients sent them.
    QStringList windows() const;

    // Executes one command (without its line end) and returns the answer.
    QByteArray execute(const QString &command);

    // Runs the sweep now; the timer calls it every sweepIntervalMs.
    void sweep();

    static constexpr int sweepIntervalMs = 1000;

signals:
    // The list became empty (through REMOVE or the sweep) and was still empty
    // once control returned to the event loop: the program should end. An
    // ADD already waiting in the same batch of input keeps it alive.
    void finished();

private:
    void acceptConnections();
    void readCommands(QLocalSocket *client);
    void removeAt(qsizetype index);
    void scheduleEndCheck();

    struct Entry
    {
        QString key; // the handle text as sent
        WindowId window;
    };

    WindowSystem &m_windowSystem;
    QLocalServer m_server;
    QTimer m_sweepTimer;
    QList<Entry> m_col;
    bool m_endCheckPending = false;
};
