#include "AutomationServer.h"

#include "AutomationAdaptors.h"
#include "AutomationWindow.h"
#include "InstanceLife.h"
#include "frmMain.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>

#include <algorithm>

AutomationServer::AutomationServer(const QDBusConnection &connection, InstanceLife &life, QObject *parent)
    : QObject(parent), m_connection(connection), m_life(life),
      m_watcher(QString(), connection, QDBusServiceWatcher::WatchForUnregistration)
{
    new OstrelEditAdaptor(this);
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &AutomationServer::clientLeft);
}

AutomationServer::~AutomationServer()
{
    const QList<AutomationWindow *> objects = m_objects;
    for (AutomationWindow *object : objects)
        endObject(object);
    m_connection.unregisterObject(objectPath());
}

bool AutomationServer::start(NameRequest request)
{
    if (!m_connection.isConnected() || !m_connection.registerObject(objectPath(), this, QDBusConnection::ExportAdaptors))
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_connection.interface()->registerService(
        serviceName(),
        request == NameRequest::Now ? QDBusConnectionInterface::DontQueueService : QDBusConnectionInterface::QueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid())
        return false;
    return reply.value() == QDBusConnectionInterface::ServiceRegistered
        || (request == NameRequest::WaitInLine && reply.value() == QDBusConnectionInterface::ServiceQueued);
}

void AutomationServer::releaseName()
{
    if (m_connection.isConnected())
        m_connection.unregisterService(serviceName());
}

QDBusObjectPath AutomationServer::CreateWindow()
{
    const QString client = calledFromDBus() ? message().service() : QString();
    // Each window costs a few megabytes: a client creating them in a loop
    // would otherwise take the user's own editor down with it.
    if (!client.isEmpty()
        && std::count_if(m_objects.cbegin(), m_objects.cend(), [&client](const AutomationWindow *o) {
               return o->client() == client;
           }) >= maxWindowsPerClient) {
        sendErrorReply(AutomationWindow::errorPrefix() + QStringLiteral("TooManyWindows"),
                       QStringLiteral("A client may hold at most %1 windows; release one before creating another.")
                           .arg(maxWindowsPerClient));
        return {};
    }
    const QString path = objectPath() + QStringLiteral("/Window/") + QString::number(++m_lastNumber);
    auto *object = new AutomationWindow(path, client, this);
    m_life.hold(object);
    if (frmMain *window = object->window().form())
        m_life.holdWindow(window);
    m_objects.append(object);
    connect(object, &AutomationWindow::releaseRequested, this, [this, object] { endObject(object); });
    // Sent here rather than relayed by the adaptor: the library relays an
    // adaptor's signals later from its own thread, and by then the ended
    // object has left the bus and the signal would be dropped.
    connect(&object->window(), &Window::OnClose, this, [this, path] {
        m_connection.send(QDBusMessage::createSignal(path, AutomationWindow::interfaceName(), QStringLiteral("OnClose")));
    });

    if (!m_connection.registerObject(path, object, QDBusConnection::ExportAdaptors)) {
        endObject(object);
        if (calledFromDBus())
            sendErrorReply(QDBusError::Failed, QStringLiteral("Could not publish a window object at %1.").arg(path));
        return {};
    }
    if (!client.isEmpty() && !m_watcher.watchedServices().contains(client)) {
        m_watcher.addWatchedService(client);
        // A client gone before the watch was in place is never reported
        // by it; its object would live on for nobody.
        if (!m_connection.interface()->isServiceRegistered(client))
            QMetaObject::invokeMethod(this, [this, client] { clientLeft(client); }, Qt::QueuedConnection);
    }
    return QDBusObjectPath(path);
}

void AutomationServer::endObject(AutomationWindow *object)
{
    if (!m_objects.removeOne(object))
        return;
    // OnClose goes out while the object is still on the bus.
    object->window().end();
    m_connection.unregisterObject(object->path());
    const QString client = object->client();
    const bool clientHasMore = std::any_of(m_objects.cbegin(), m_objects.cend(),
                                           [&client](const AutomationWindow *o) { return o->client() == client; });
    if (!clientHasMore && !client.isEmpty())
        m_watcher.removeWatchedService(client);
    object->deleteLater();
    m_life.release(object);
}

void AutomationServer::clientLeft(const QString &client)
{
    const QList<AutomationWindow *> objects = m_objects;
    for (AutomationWindow *object : objects) {
        if (object->client() == client)
            endObject(object);
    }
}
