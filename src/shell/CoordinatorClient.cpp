#include "CoordinatorClient.h"

#include "ddecommand.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>

CoordinatorClient::CoordinatorClient(QObject *parent)
    : CoordinatorClient(DdeProtocol::serverName(), parent)
{
}

CoordinatorClient::CoordinatorClient(const QString &serverName, QObject *parent)
    : QObject(parent)
    , m_serverName(serverName)
{
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(retryIntervalMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &CoordinatorClient::connectIfNeeded);
    connect(&m_socket, &QLocalSocket::connected, this, &CoordinatorClient::writeOutbox);
    connect(&m_socket, &QLocalSocket::readyRead, this, &CoordinatorClient::readAnswers);
    connect(&m_socket, &QLocalSocket::disconnected, this, &CoordinatorClient::connectionLost);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, &CoordinatorClient::connectionLost);
}

CoordinatorClient::~CoordinatorClient()
{
    // The socket, destroyed among the members, reports its disconnection;
    // that must not reach connectionLost() with the queues already gone.
    m_socket.disconnect(this);
}

void CoordinatorClient::registerWindow(quint64 handle)
{
    send({DdeProtocol::encodeLine(QLatin1String(DdeProtocol::addVerb) + QLatin1Char(' ')
                                  + QString::number(handle)),
          handle, true, QDeadlineTimer(m_registrationTimeoutMs)});
}

void CoordinatorClient::unregisterWindow(quint64 handle)
{
    m_outbox.removeIf([handle](const Command &c) { return c.isAdd && c.handle == handle; });
    const QDeadlineTimer budget(unregisterTimeoutMs);
    if (m_socket.state() == QLocalSocket::UnconnectedState) {
        m_retryTimer.stop();
        m_socket.connectToServer(m_serverName);
    }
    if (m_socket.state() != QLocalSocket::ConnectedState
        && !m_socket.waitForConnected(int(qMax<qint64>(0, budget.remainingTime())))) {
        return;
    }
    m_outbox.append({DdeProtocol::encodeLine(QLatin1String(DdeProtocol::removeVerb)
                                             + QLatin1Char(' ') + QString::number(handle)),
                     handle, false, {}});
    writeOutbox();
    // Only the hand-over is waited for, not the answer: the window is closing
    // and the coordinator executes a complete line even after we are gone.
    while (m_socket.bytesToWrite() > 0 && !budget.hasExpired()) {
        if (!m_socket.waitForBytesWritten(int(qMax<qint64>(0, budget.remainingTime()))))
            break;
    }
}

void CoordinatorClient::tileVertical()
{
    send({DdeProtocol::encodeLine(QLatin1String(DdeProtocol::tileVerticalVerb)), 0, false, {}});
}

void CoordinatorClient::send(Command command)
{
    m_outbox.append(std::move(command));
    connectIfNeeded();
}

void CoordinatorClient::connectIfNeeded()
{
    switch (m_socket.state()) {
    case QLocalSocket::ConnectedState:
        writeOutbox();
        break;
    case QLocalSocket::UnconnectedState:
        if (!m_outbox.isEmpty() && !m_retryTimer.isActive())
            m_socket.connectToServer(m_serverName);
        break;
    default:
        // Connecting: connected() writes the outbox. Closing: disconnected()
        // decides what is retried.
        break;
    }
}

void CoordinatorClient::writeOutbox()
{
    for (Command &command : m_outbox) {
        m_socket.write(command.line);
        m_awaiting.append(std::move(command));
    }
    m_outbox.clear();
}

void CoordinatorClient::readAnswers()
{
    while (m_socket.canReadLine()) {
        const QByteArray answer = m_socket.readLine().trimmed();
        if (m_awaiting.isEmpty())
            continue;
        const Command command = m_awaiting.takeFirst();
        if (!command.isAdd)
            continue;
        if (answer == DdeProtocol::okAnswer)
            emit windowRegistered(command.handle);
        else
            emit registrationFailed(command.handle);
    }
}

void CoordinatorClient::connectionLost()
{
    // Reached through errorOccurred and disconnected alike, possibly both for
    // one loss, so it must be harmless to run twice.
    if (m_socket.state() == QLocalSocket::ConnectedState)
        return;

    // Answers that will never come: a registration is sent again (a duplicate
    // ADD is harmless to the coordinator), everything else is given up.
    QList<Command> retry;
    QList<quint64> failed;
    for (QList<Command> *list : {&m_awaiting, &m_outbox}) {
        for (Command &command : *list) {
            if (!command.isAdd)
                continue;
            if (command.deadline.hasExpired())
                failed.append(command.handle);
            else
                retry.append(std::move(command));
        }
        list->clear();
    }
    m_outbox = std::move(retry);
    if (!m_outbox.isEmpty() && !m_retryTimer.isActive())
        m_retryTimer.start();
    // Last, as a receiver may register again from its slot.
    for (const quint64 handle : failed)
        emit registrationFailed(handle);
}

CoordinatorClient *CoordinatorClient::forApplication()
{
    static QPointer<CoordinatorClient> client;
    if (!client)
        client = new CoordinatorClient(QCoreApplication::instance());
    return client;
}

bool CoordinatorClient::startCoordinatorIfPresent()
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString program = folder + QLatin1String("/OstrelDDE");
    if (!QFileInfo(program).isExecutable())
        return false;
    // Started in its own folder so it does not keep the user's current
    // folder busy for its whole life.
    return QProcess::startDetached(program, {}, folder);
}
