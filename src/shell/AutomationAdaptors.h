#pragma once

// The D-Bus faces of the automation server: thin adaptors that forward
// every member to the object they are attached to.

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariantMap>

class AutomationServer;
class AutomationWindow;

// org.ostrel.OstrelEdit at /org/ostrel/OstrelEdit.
class OstrelEditAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.ostrel.OstrelEdit")
public:
    explicit OstrelEditAdaptor(AutomationServer *server);

public slots:
    // A new Window object with a new, hidden, empty editor window; it lives
    // until the caller releases it or leaves the bus.
    QDBusObjectPath CreateWindow();

private:
    AutomationServer *m_server;
};

// org.ostrel.OstrelEdit.Window at /org/ostrel/OstrelEdit/Window/N.
// hWnd is the window's X11 id (QWidget::winId) as int64.
class WindowAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.ostrel.OstrelEdit.Window")
    Q_PROPERTY(qint64 hWnd READ hWnd)
    Q_PROPERTY(bool ReadOnly READ ReadOnly)
    Q_PROPERTY(bool Visible READ Visible WRITE setVisible)
public:
    explicit WindowAdaptor(AutomationWindow *object);

    qint64 hWnd() const;
    bool ReadOnly() const;
    bool Visible() const;
    void setVisible(bool visible);

public slots:
    void OpenFile(const QString &p_strFileName);
    void Save();
    void SaveAs(const QString &p_strFileName);
    void Quit();
    void CloseWindow();
    void Release();

signals:
    // The object has ended (released by its client, or the client left).
    // Declared here for the interface's description; AutomationServer
    // sends it, before the object leaves the bus.
    void OnClose();

private:
    AutomationWindow *m_object;
};

// org.freedesktop.DBus.Properties of a window object (see
// AutomationWindow::getProperty for why it is not left to the library).
class WindowPropertiesAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.Properties")
    // The library describes this standard interface in every object's
    // introspection already; a second description would repeat it.
    Q_CLASSINFO("D-Bus Introspection", "\n")
public:
    explicit WindowPropertiesAdaptor(AutomationWindow *object);

public slots:
    QDBusVariant Get(const QString &interface_name, const QString &property_name);
    void Set(const QString &interface_name, const QString &property_name, const QDBusVariant &value);
    QVariantMap GetAll(const QString &interface_name);

private:
    AutomationWindow *m_object;
};
