#include "TiledWindow.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

std::optional<QRect> geometryBeforeTiling(const QWidget *window)
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection() || window->internalWinId() == 0)
        return std::nullopt;
    xcb_connection_t *c = x11->connection();
    const auto free = [](void *p) { std::free(p); };
    static const char name[] = "_OSTREL_UNTILED";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, quint16(std::strlen(name)), name), nullptr), free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return std::nullopt;
    std::unique_ptr<xcb_get_property_reply_t, decltype(free)> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, xcb_window_t(window->internalWinId()), atom->atom, XCB_ATOM_CARDINAL, 0, 6),
                               nullptr),
        free);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 24)
        return std::nullopt;
    const auto *v = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    // The server's size, not the widget's: a tiling the window has not yet
    // heard of would otherwise look like a size the user chose.
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(free)> now(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, xcb_window_t(window->internalWinId())), nullptr), free);
    if (!now || std::abs(int(now->width) - int(v[4])) > 1 || std::abs(int(now->height) - int(v[5])) > 1)
        return std::nullopt;
    // The property speaks in the screen's pixels; the window in its own.
    const qreal ratio = window->devicePixelRatioF();
    return QRect(qRound(int(v[0]) / ratio), qRound(int(v[1]) / ratio), qRound(int(v[2]) / ratio), qRound(int(v[3]) / ratio));
}
