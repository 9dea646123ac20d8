#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

// The editor's side of the link to the window coordinator (OstrelDDE).
//
// One connection per client object, opened on first use and reopened when it
// breaks. Registration tolerates a coordinator that is still starting: ADD is
// retried every retryIntervalMs until a coordinator answers or the
// registration timeout (5 s by default) has passed, without blocking the event
// loop. REMOVE and TILE_VERTICAL are sent once; failures are ignored, as the
// editor does nothing about them.
class CoordinatorClient : public QObject
{
    Q_OBJECT

public:
    // Talks to the coordinator of this user (DdeProtocol::serverName()).
    explicit CoordinatorClient(QObject *parent = nullptr);
    CoordinatorClient(const QString &serverName, QObject *parent = nullptr);
    ~CoordinatorClient() override;

    // Sends "ADD <handle>" asynchronously; windowRegistered or
    // registrationFailed tells the outcome.
    void registerWindow(quint64 handle);
    // Sends "REMOVE <handle>". Meant for window close: returns once the line
    // has been handed to the coordinator, or after at most about a second.
    // A registration of the handle not yet sent is withdrawn.
    void unregisterWindow(quint64 handle);
    // Sends "TILE_VERTICAL"; does nothing when no coordinator runs.
    void tileVertical();

    void setRegistrationTimeout(int ms) { m_registrationTimeoutMs = ms; }

    // The client all editor windows of this process share, owned by the
    // application object. One connection keeps their commands in the order
    // they were given: with one client each, their ADDs would be retried
    // independently while the coordinator starts, and a window opened later
    // could be registered first.
    static CoordinatorClient *forApplication();

    // Starts OstrelDDE from the editor executable's folder, detached, if it is
    // there. Every failure is ignored (the result is for logging only); a
    // coordinator that is already running makes the new one end at once.
    static bool startCoordinatorIfPresent();

    static constexpr int retryIntervalMs = 250;
    static constexpr int unregisterTimeoutMs = 1000;

signals:
    void windowRegistered(quint64 handle);
    // The coordinator refused the handle, or none answered in time.
    void registrationFailed(quint64 handle);

private:
    struct Command
    {
        QByteArray line;
        quint64 handle = 0;
        bool isAdd = false;
        QDeadlineTimer deadline;
    };

    void send(Command command);
    void connectIfNeeded();
    void writeOutbox();
    void readAnswers();
    void connectionLost();

    QString m_serverName;
    QLocalSocket m_socket;
    QTimer m_retryTimer;
    QList<Command> m_outbox;   // not yet written
    QList<Command> m_awaiting; // written, answers pending, in sending order
    int m_registrationTimeoutMs = 5000;
};
