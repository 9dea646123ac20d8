#pragma once

#include "windowsystem.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

class QLocalSocket;
class QSocketNotifier;

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
// Every second the list is swept of windows whose title length is 0 (gone)
// and of windows whose registering editor process has ended, which is all
// that can be known without a display.
//
// It keeps listening whatever its clients do: it accepts connections
// itself (a failed accept would make QLocalServer stop listening for good),
// holds at most maxClientsPerProcess connections per client process and
// as many in all as its descriptor limit allows, making room by closing the
// longest idle one, and closes connections idle for clientIdleMs. An editor
// reconnects when it next has something to say.
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
    // `peer` is the id of the process that sent it, 0 when unknown: the
    // windows it adds leave the list when that process ends.
    QByteArray execute(const QString &command, qint64 peer = 0);

    // Runs the sweep now; the timer calls it every sweepIntervalMs.
    void sweep();

    // Open client connections.
    int clientCount() const { return int(m_clients.size()); }

    static constexpr int sweepIntervalMs = 1000;
    static constexpr int maxClientsPerProcess = 8;
    static constexpr int clientIdleMs = 60000;

signals:
    // The list became empty (through REMOVE or the sweep) and was still empty
    // once control returned to the event loop: the program should end. An
    // ADD already waiting in the same batch of input keeps it alive.
    // Also emitted when its socket file was removed or replaced: nobody can
    // reach it any more, and a successor needs the claim it holds.
    void finished();

private:
    struct Client
    {
        QLocalSocket *socket;
        qint64 pid; // of the process at the other end; 0 when unknown
        qint64 lastActive; // on m_clock
    };

    void acceptConnections();
    bool makeRoomFor(qint64 pid);
    void closeClient(qsizetype index);
    void readCommands(QLocalSocket *client);
    void removeAt(qsizetype index);
    void scheduleEndCheck();
    bool stillListening() const;

    struct Entry
    {
        QString key; // the handle text as sent
        WindowId window;
        qint64 pid; // the registering process; 0 when unknown
        qint64 started; // its start time, telling a reused process id apart
    };

    WindowSystem &m_windowSystem;
    QTimer m_sweepTimer;
    QList<Entry> m_col;
    bool m_endCheckPending = false;

    QString m_socketPath;
    QString m_error;
    int m_listener = -1;
    int m_spare = -1; // given up to take a connection when out of descriptors
    quint64 m_socketInode = 0;
    QSocketNotifier *m_acceptNotifier = nullptr;
    QTimer m_acceptRetry;
    QList<Client> m_clients;
    int m_maxClients = 0;
    QElapsedTimer m_clock;
};
