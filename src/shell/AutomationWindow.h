#pragma once

#include "Window.h"

#include <QDBusContext>
#include <QDBusVariant>
#include <QObject>
#include <QVariantMap>

// One Window object on the bus, at its own path, created for one client.
// Its adaptors (AutomationAdaptors.h) forward each member of the interface
// org.ostrel.OstrelEdit.Window here; this class runs it on the Window
// without dialogs and turns a failure into an error reply the client can
// read.
class AutomationWindow : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    static QString interfaceName() { return QStringLiteral("org.ostrel.OstrelEdit.Window"); }
    // Error names: errorPrefix() + "WindowClosed", "NoDocument", "NoFile",
    // "ReadOnly", "OpenFailed", "SaveFailed"; the server's CreateWindow
    // answers "TooManyWindows" to a client holding its limit.
    static QString errorPrefix() { return QStringLiteral("org.ostrel.OstrelEdit.Error."); }

    // `client`: the unique bus name of the client it was created for.
    AutomationWindow(const QString &path, const QString &client, QObject *parent = nullptr);

    QString path() const { return m_path; }
    QString client() const { return m_client; }
    Window &window() { return *m_window; }

    // The members of the interface.
    qint64 hWnd() const { return m_window->hWnd(); }
    bool ReadOnly() const { return m_window->ReadOnly(); }
    bool Visible();
    void setVisible(bool visible);
    void OpenFile(const QString &path);
    void Save();
    void SaveAs(const QString &path);
    void Quit();
    void CloseWindow();
    void Release();

    // org.freedesktop.DBus.Properties of this object. Taken over from the
    // bus library, which cannot fail a property read with a message of its
    // own: Visible of a closed window must say why it fails.
    QDBusVariant getProperty(const QString &interface, const QString &name);
    void putProperty(const QString &interface, const QString &name, const QDBusVariant &value);
    QVariantMap allProperties(const QString &interface);

signals:
    // The client let go of the object (Release); the server ends it.
    void releaseRequested();

private:
    bool check(const Window::Result &result, const QString &path = QString());
    bool checkPath(const QString &path);
    bool checkInterface(const QString &interface);
    void fail(const QString &name, const QString &text);

    QString m_path;
    QString m_client;
    Window *m_window; // child
};
