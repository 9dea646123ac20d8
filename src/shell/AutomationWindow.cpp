#include "AutomationWindow.h"

#include "AutomationAdaptors.h"

#include <QDBusError>
#include <QDir>

namespace {

// While an automation call runs, the window shows no dialog: the client
// waits for its reply, and the window may be hidden.
class SilentCall
{
public:
    explicit SilentCall(Window &window) : m_window(window) { m_window.setInteractive(false); }
    ~SilentCall() { m_window.setInteractive(true); }
    SilentCall(const SilentCall &) = delete;
    SilentCall &operator=(const SilentCall &) = delete;

private:
    Window &m_window;
};

} // namespace

AutomationWindow::AutomationWindow(const QString &path, const QString &client, QObject *parent)
    : QObject(parent), m_path(path), m_client(client), m_window(new Window(nullptr, this))
{
    new WindowAdaptor(this);
    new WindowPropertiesAdaptor(this);
}

void AutomationWindow::fail(const QString &name, const QString &text)
{
    if (calledFromDBus())
        sendErrorReply(name, text);
}

bool AutomationWindow::check(const Window::Result &result, const QString &path)
{
    QString text;
    switch (result.code) {
    case Window::Result::Ok:
        return true;
    case Window::Result::WindowClosed:
        fail(errorPrefix() + QStringLiteral("WindowClosed"),
             QStringLiteral("The editor window of %1 has been closed.").arg(m_path));
        return false;
    case Window::Result::NoDocument:
        fail(errorPrefix() + QStringLiteral("NoDocument"), QStringLiteral("The window holds no document."));
        return false;
    case Window::Result::NoFile:
        fail(errorPrefix() + QStringLiteral("NoFile"),
             QStringLiteral("The document has not been saved to a file yet; use SaveAs."));
        return false;
    case Window::Result::ReadOnly:
        fail(errorPrefix() + QStringLiteral("ReadOnly"), QStringLiteral("The document is open read-only; use SaveAs."));
        return false;
    case Window::Result::OpenFailed:
        text = QStringLiteral("Could not open %1.").arg(path);
        break;
    case Window::Result::SaveFailed:
        text = QStringLiteral("Could not save %1.").arg(path);
        break;
    }
    if (!result.detail.isEmpty())
        text += QLatin1Char('\n') + result.detail;
    fail(errorPrefix() + (result.code == Window::Result::OpenFailed ? QStringLiteral("OpenFailed")
                                                                     : QStringLiteral("SaveFailed")),
         text);
    return false;
}

bool AutomationWindow::checkPath(const QString &path)
{
    // The client's working folder is not the editor's: a relative name
    // would silently mean another file.
    if (!path.isEmpty() && QDir::isAbsolutePath(path))
        return true;
    fail(QDBusError::errorString(QDBusError::InvalidArgs),
         QStringLiteral("The file name must be an absolute path: \"%1\"").arg(path));
    return false;
}

bool AutomationWindow::Visible()
{
    const std::optional<bool> visible = m_window->Visible();
    if (!visible)
        check({Window::Result::WindowClosed, {}});
    return visible.value_or(false);
}

void AutomationWindow::setVisible(bool visible)
{
    check(m_window->setVisible(visible));
}

void AutomationWindow::OpenFile(const QString &path)
{
    if (!checkPath(path))
        return;
    SilentCall silent(*m_window);
    check(m_window->OpenFile(path), path);
}

void AutomationWindow::Save()
{
    SilentCall silent(*m_window);
    check(m_window->Save(), m_window->fileName());
}

void AutomationWindow::SaveAs(const QString &path)
{
    if (!checkPath(path))
        return;
    SilentCall silent(*m_window);
    check(m_window->SaveAs(path), path);
}

void AutomationWindow::Quit()
{
    SilentCall silent(*m_window);
    check(m_window->Quit());
}

void AutomationWindow::CloseWindow()
{
    SilentCall silent(*m_window);
    check(m_window->CloseWindow());
}

void AutomationWindow::Release()
{
    emit releaseRequested();
}

bool AutomationWindow::checkInterface(const QString &interface)
{
    if (interface.isEmpty() || interface == interfaceName())
        return true;
    fail(QDBusError::errorString(QDBusError::UnknownInterface),
         QStringLiteral("%1 has no properties of the interface %2.").arg(m_path, interface));
    return false;
}

QDBusVariant AutomationWindow::getProperty(const QString &interface, const QString &name)
{
    if (!checkInterface(interface))
        return {};
    if (name == QLatin1String("hWnd"))
        return QDBusVariant(hWnd());
    if (name == QLatin1String("ReadOnly"))
        return QDBusVariant(ReadOnly());
    if (name == QLatin1String("Visible"))
        return QDBusVariant(Visible());
    fail(QDBusError::errorString(QDBusError::UnknownProperty), QStringLiteral("No property %1.").arg(name));
    return {};
}

void AutomationWindow::putProperty(const QString &interface, const QString &name, const QDBusVariant &value)
{
    if (!checkInterface(interface))
        return;
    if (name == QLatin1String("Visible")) {
        if (value.variant().metaType() != QMetaType::fromType<bool>()) {
            fail(QDBusError::errorString(QDBusError::InvalidArgs), QStringLiteral("Visible takes a boolean."));
            return;
        }
        setVisible(value.variant().toBool());
        return;
    }
    if (name == QLatin1String("hWnd") || name == QLatin1String("ReadOnly")) {
        fail(QDBusError::errorString(QDBusError::PropertyReadOnly), QStringLiteral("%1 is read-only.").arg(name));
        return;
    }
    fail(QDBusError::errorString(QDBusError::UnknownProperty), QStringLiteral("No property %1.").arg(name));
}

QVariantMap AutomationWindow::allProperties(const QString &interface)
{
    if (!checkInterface(interface))
        return {};
    // All of them at once never fails: Visible is left out once the window
    // has closed.
    QVariantMap all{{QStringLiteral("hWnd"), hWnd()}, {QStringLiteral("ReadOnly"), ReadOnly()}};
    if (const std::optional<bool> visible = m_window->Visible())
        all.insert(QStringLiteral("Visible"), *visible);
    return all;
}
