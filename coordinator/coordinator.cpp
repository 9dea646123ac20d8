#include "coordinator.h"

#include "ddecommand.h"

#include <QLocalSocket>

Coordinator::Coordinator(WindowSystem &windowSystem, QObject *parent)
    : QObject(parent)
    , m_windowSystem(windowSystem)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &Coordinator::acceptConnections);

    m_sweepTimer.setInterval(sweepIntervalMs);
    connect(&m_sweepTimer, &QTimer::timeout, this, &Coordinator::sweep);
    m_sweepTimer.start();
}

Coordinator::~Coordinator()
{
    // Clients are deleted with the server, after the list; their last
    // signals must not reach a half-destroyed coordinator.
    const QList<QLocalSocket *> clients = m_server.findChildren<QLocalSocket *>();
    for (QLocalSocket *client : clients)
        client->disconnect(this);
}

bool Coordinator::listen(const QString &serverName)
{
    return m_server.listen(serverName);
}

QString Coordinator::errorString() const
{
    return m_server.errorString();
}

QStringList Coordinator::windows() const
{
    QStringList keys;
    keys.reserve(m_col.size());
    for (const Entry &entry : m_col)
        keys.append(entry.key);
    return keys;
}

QByteArray Coordinator::execute(const QString &command)
{
    const DdeCommand parsed = DdeCommand::parse(command);
    const auto indexOf = [this](const QString &key) -> qsizetype {
        for (qsizetype i = 0; i < m_col.size(); ++i) {
            if (m_col[i].key == key)
                return i;
        }
        return -1;
    };

    switch (parsed.verb) {
    case DdeCommand::Verb::Add: {
        const std::optional<WindowId> window = DdeCommand::parseHandle(parsed.argument);
        if (!window)
            return DdeProtocol::refusedAnswer;
        if (indexOf(parsed.argument) < 0)
            m_col.append({parsed.argument, *window});
        return DdeProtocol::okAnswer;
    }
    case DdeCommand::Verb::Remove: {
        const qsizetype index = indexOf(parsed.argument);
        if (index >= 0)
            removeAt(index);
        return DdeProtocol::okAnswer;
    }
    case DdeCommand::Verb::TileVertical: {
        if (m_col.isEmpty())
            return DdeProtocol::okAnswer;
        QList<WindowId> ids;
        ids.reserve(m_col.size());
        for (const Entry &entry : m_col)
            ids.append(entry.window);
        m_windowSystem.tileColumns(ids, m_windowSystem.desktopRect());
        return DdeProtocol::okAnswer;
    }
    case DdeCommand::Verb::Unknown:
        break;
    }
    return DdeProtocol::refusedAnswer;
}

void Coordinator::sweep()
{
    for (qsizetype i = 0; i < m_col.size();) {
        if (m_windowSystem.titleLength(m_col[i].window) == 0)
            removeAt(i);
        else
            ++i;
    }
}

void Coordinator::removeAt(qsizetype index)
{
    m_col.removeAt(index);
    if (m_col.isEmpty())
        scheduleEndCheck();
}

void Coordinator::scheduleEndCheck()
{
    if (m_endCheckPending)
        return;
    m_endCheckPending = true;
    QTimer::singleShot(0, this, [this] {
        m_endCheckPending = false;
        if (m_col.isEmpty())
            emit finished();
    });
}

void Coordinator::acceptConnections()
{
    while (QLocalSocket *client = m_server.nextPendingConnection()) {
        // Parented to the server; deleted once the client is gone.
        connect(client, &QLocalSocket::readyRead, this, [this, client] { readCommands(client); });
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        // Lines that arrived together with the connection.
        readCommands(client);
    }
}

void Coordinator::readCommands(QLocalSocket *client)
{
    while (client->canReadLine()) {
        QByteArray line = client->readLine();
        line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray answer = execute(QString::fromUtf8(line));
        if (client->state() == QLocalSocket::ConnectedState)
            client->write(answer + '\n');
    }
    if (client->bytesAvailable() > DdeProtocol::maxLineLength)
        client->abort();
}
