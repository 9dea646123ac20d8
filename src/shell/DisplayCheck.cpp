#include "DisplayCheck.h"

#include "document/StringTable.h"

#include <QByteArray>

#include <xcb/xcb.h>

namespace {

bool canConnectToX(const QByteArray &display)
{
    xcb_connection_t *connection = xcb_connect(display.constData(), nullptr);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection); // also frees a connection that failed
    return connected;
}

} // namespace

QString missingDisplayMessage(const QString &platform, const QString &display)
{
    const QString named = platform.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : platform;
    if (!named.isEmpty() && !named.startsWith(QLatin1String("xcb")))
        return {};
    if (named.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    const QByteArray x = display.isEmpty() ? qgetenv("DISPLAY") : display.toLocal8Bit();
    if (x.isEmpty())
        return resourceString(3003).arg(resourceString(3004));
    if (!canConnectToX(x))
        return resourceString(3003).arg(resourceString(3005).arg(QString::fromLocal8Bit(x)));
    return {};
}
