#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QList>
#include <QObject>

class AutomationWindow;
class InstanceLife;

// The editor's automation server on a bus: the object /org/ostrel/OstrelEdit
// (interface org.ostrel.OstrelEdit) makes Window objects, each at
// /org/ostrel/OstrelEdit/Window/N for the client that asked. A Window
// object ends when its client calls Release or leaves the bus; ending
// raises OnClose. Every object and its window keep the process alive
// (InstanceLife) while they exist.
class AutomationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    static QString serviceName() { return QStringLiteral("org.ostrel.OstrelEdit"); }
    static QString objectPath() { return QStringLiteral("/org/ostrel/OstrelEdit"); }

    enum class NameRequest {
        Now,       // the name now or not at all (started for a client)
        WaitInLine // queue for the name while another instance has it
    };

    AutomationServer(const QDBusConnection &connection, InstanceLife &life, QObject *parent = nullptr);
    ~AutomationServer() override;

    // Publishes the server object and asks for the bus name. True when the
    // server has the name, or, with WaitInLine, stands in line for it.
    bool start(NameRequest request);
    // Gives up the bus name (or the place in line for it).
    void releaseName();

    // Called by the adaptor: creates a Window object for the caller.
    QDBusObjectPath CreateWindow();

    qsizetype objectCount() const { return m_objects.size(); }

    // Window objects one bus connection may hold at a time.
    static constexpr int maxWindowsPerClient = 256;

private:
    void endObject(AutomationWindow *object);
    void clientLeft(const QString &client);

    QDBusConnection m_connection;
    InstanceLife &m_life;
    QDBusServiceWatcher m_watcher;
    QList<AutomationWindow *> m_objects;
    int m_lastNumber = 0;
};
