#include "coordinator.h"

#include "ddecommand.h"
#include "singleinstance.h"

#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Descriptors kept for everything but clients: the display connection,
// the event loop's own, a spare, a socket being accepted.
constexpr int kReservedDescriptors = 24;
constexpr int kAcceptRetryMs = 100;

// The start time of a running process (field 22 of /proc/<pid>/stat), or 0
// when it does not run; a zombie has ended.
qint64 processStart(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The name in parentheses may hold blanks; the fields follow its end.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20 || fields[0] == "Z")
        return 0;
    return qMax<qint64>(1, fields[19].toLongLong());
}

qint64 peerProcess(qintptr socket)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socket), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return 0;
    return credentials.pid;
}

} // namespace

Coordinator::Coordinator(WindowSystem &windowSystem, QObject *parent)
    : QObject(parent)
    , m_windowSystem(windowSystem)
{
    m_clock.start();
    m_sweepTimer.setInterval(sweepIntervalMs);
    connect(&m_sweepTimer, &QTimer::timeout, this, &Coordinator::sweep);
    m_sweepTimer.start();

    m_acceptRetry.setSingleShot(true);
    m_acceptRetry.setInterval(kAcceptRetryMs);
    connect(&m_acceptRetry, &QTimer::timeout, this, [this] {
        m_acceptNotifier->setEnabled(true);
        acceptConnections();
    });

    rlimit limit{};
    const rlim_t files = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
    m_maxClients = int(std::clamp<rlim_t>(files, 2 * kReservedDescriptors, 4096)) - kReservedDescriptors;
    m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

Coordinator::~Coordinator()
{
    // Their last signals must not reach a half-destroyed coordinator.
    const QList<QLocalSocket *> clients = findChildren<QLocalSocket *>();
    for (QLocalSocket *client : clients)
        client->disconnect(this);
    qDeleteAll(clients);
    delete m_acceptNotifier;
    if (m_listener >= 0) {
        if (stillListening())
            QFile::remove(m_socketPath);
        ::close(m_listener);
    }
    if (m_spare >= 0)
        ::close(m_spare);
}

bool Coordinator::listen(const QString &serverName)
{
    m_socketPath = SingleInstance::socketPath(serverName);
    const QByteArray path = QFile::encodeName(m_socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path)) {
        m_error = QStringLiteral("socket path too long");
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // Made for this user only from the start: no moment in which others may connect.
    const mode_t mask = ::umask(0077);
    const bool bound = m_listener >= 0 && ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::umask(mask);
    struct stat st{};
    if (!bound || ::listen(m_listener, SOMAXCONN) != 0 || ::stat(path.constData(), &st) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        if (m_listener >= 0)
            ::close(m_listener);
        m_listener = -1;
        return false;
    }
    m_socketInode = st.st_ino;
    m_acceptNotifier = new QSocketNotifier(m_listener, QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &Coordinator::acceptConnections);
    return true;
}

QString Coordinator::errorString() const
{
    return m_error;
}

bool Coordinator::stillListening() const
{
    struct stat st{};
    return ::stat(QFile::encodeName(m_socketPath).constData(), &st) == 0 && st.st_ino == m_socketInode
        && S_ISSOCK(st.st_mode);
}

QStringList Coordinator::windows() const
{
    QStringList keys;
    keys.reserve(m_col.size());
    for (const Entry &entry : m_col)
        keys.append(entry.key);
    return keys;
}

QByteArray Coordinator::execute(const QString &command, qint64 peer)
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
            m_col.append({parsed.argument, *window, peer, processStart(peer)});
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
        const Entry &entry = m_col[i];
        const bool editorEnded = entry.started != 0 && processStart(entry.pid) != entry.started;
        if (editorEnded || m_windowSystem.titleLength(entry.window) == 0)
            removeAt(i);
        else
            ++i;
    }
    const qint64 now = m_clock.elapsed();
    for (qsizetype i = m_clients.size() - 1; i >= 0; --i) {
        if (now - m_clients[i].lastActive > clientIdleMs)
            closeClient(i);
    }
    if (m_listener >= 0 && !stillListening())
        emit finished();
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
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            if ((errno == EMFILE || errno == ENFILE) && !m_clients.isEmpty()) {
                closeClient(std::min_element(m_clients.cbegin(), m_clients.cend(), [](const Client &a, const Client &b) {
                    return a.lastActive < b.lastActive;
                }) - m_clients.cbegin());
                continue;
            }
            // Out of descriptors with no client to close: turn the waiting
            // connection away with the spare, so it does not wake us forever.
            if (m_spare >= 0) {
                ::close(m_spare);
                const int turnedAway = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (turnedAway >= 0)
                    ::close(turnedAway);
                m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            }
            // Tried again shortly, rather than woken at once by the same connection.
            m_acceptNotifier->setEnabled(false);
            m_acceptRetry.start();
            return;
        }
        const qint64 pid = peerProcess(fd);
        if (!makeRoomFor(pid)) {
            ::close(fd);
            continue;
        }
        auto *client = new QLocalSocket(this);
        if (!client->setSocketDescriptor(fd)) {
            ::close(fd);
            delete client;
            continue;
        }
        m_clients.append({client, pid, m_clock.elapsed()});
        connect(client, &QLocalSocket::readyRead, this, [this, client] { readCommands(client); });
        connect(client, &QLocalSocket::disconnected, this, [this, client] {
            for (qsizetype i = 0; i < m_clients.size(); ++i) {
                if (m_clients[i].socket == client) {
                    m_clients.removeAt(i);
                    break;
                }
            }
            client->deleteLater();
        });
        // Lines that arrived together with the connection.
        readCommands(client);
    }
}

// Closes the longest idle connection of `pid` when it holds its share, or
// of anyone when all are taken. False when no room can be made.
bool Coordinator::makeRoomFor(qint64 pid)
{
    qsizetype oldestOfPid = -1;
    qsizetype oldest = -1;
    int ofPid = 0;
    for (qsizetype i = 0; i < m_clients.size(); ++i) {
        if (oldest < 0 || m_clients[i].lastActive < m_clients[oldest].lastActive)
            oldest = i;
        if (pid != 0 && m_clients[i].pid == pid) {
            ++ofPid;
            if (oldestOfPid < 0 || m_clients[i].lastActive < m_clients[oldestOfPid].lastActive)
                oldestOfPid = i;
        }
    }
    if (ofPid >= maxClientsPerProcess)
        closeClient(oldestOfPid);
    else if (m_clients.size() >= m_maxClients && oldest >= 0)
        closeClient(oldest);
    return m_clients.size() < m_maxClients;
}

void Coordinator::closeClient(qsizetype index)
{
    QLocalSocket *socket = m_clients.takeAt(index).socket;
    socket->disconnect(this);
    socket->abort(); // frees its descriptor now
    socket->deleteLater();
}

void Coordinator::readCommands(QLocalSocket *client)
{
    qint64 pid = 0;
    for (Client &known : m_clients) {
        if (known.socket == client) {
            known.lastActive = m_clock.elapsed();
            pid = known.pid;
        }
    }
    while (client->canReadLine()) {
        QByteArray line = client->readLine();
        line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray answer = execute(QString::fromUtf8(line), pid);
        if (client->state() == QLocalSocket::ConnectedState)
            client->write(answer + '\n');
    }
    if (client->bytesAvailable() > DdeProtocol::maxLineLength)
        client->abort();
}
