#include "DisplayCheck.h"

#include "base/StringTable.h"

#include <QByteArray>

#include <xcb/xcb.h>

DisplayCheck::DisplayCheck(const QString &platform, const QString &display)
{
    const QString named = platform.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : platform;
    if (!named.isEmpty() && !named.startsWith(QLatin1String("xcb")))
        return;
    const bool wayland = named.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QByteArray x = display.isEmpty() ? qgetenv("DISPLAY") : display.toLocal8Bit();
    if (x.isEmpty()) {
        if (!wayland)
            m_message = resourceString(3003).arg(resourceString(3004));
        return;
    }
    m_x = xcb_connect(x.constData(), nullptr);
    if (xcb_connection_has_error(m_x) == 0) {
        if (wayland)
            m_platform = QStringLiteral("xcb");
        return;
    }
    xcb_disconnect(m_x); // also frees a connection that failed
    m_x = nullptr;
    if (!wayland)
        m_message = resourceString(3003).arg(resourceString(3005).arg(QString::fromLocal8Bit(x)));
}

DisplayCheck::~DisplayCheck()
{
    if (m_x)
        xcb_disconnect(m_x);
}
