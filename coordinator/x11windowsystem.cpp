#include "x11windowsystem.h"

#include <xcb/xcb.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// xcb replies and errors are malloc'ed and owned by the caller.
struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using XcbPtr = std::unique_ptr<T, FreeDeleter>;

} // namespace

std::unique_ptr<X11WindowSystem> X11WindowSystem::open()
{
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11WindowSystem>(new X11WindowSystem(connection, it.data->root));
}

X11WindowSystem::X11WindowSystem(xcb_connection_t *connection, quint32 root)
    : m_connection(connection)
    , m_root(root)
    , m_netWmName(internAtom("_NET_WM_NAME"))
    , m_netFrameExtents(internAtom("_NET_FRAME_EXTENTS"))
    , m_netMoveResizeWindow(internAtom("_NET_MOVERESIZE_WINDOW"))
    , m_untiled(internAtom("_OSTREL_UNTILED"))
{
}

X11WindowSystem::~X11WindowSystem()
{
    xcb_disconnect(m_connection);
}

quint32 X11WindowSystem::internAtom(const char *name)
{
    const auto cookie = xcb_intern_atom(m_connection, 0, quint16(std::strlen(name)), name);
    XcbPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookie, nullptr));
    return reply ? reply->atom : quint32(XCB_ATOM_NONE);
}

QRect X11WindowSystem::desktopRect()
{
    // Asked each time rather than taken from the connection setup, so a
    // screen resized since start-up is honoured.
    const auto cookie = xcb_get_geometry(m_connection, m_root);
    XcbPtr<xcb_get_geometry_reply_t> reply(xcb_get_geometry_reply(m_connection, cookie, nullptr));
    if (!reply)
        return {};
    return QRect(0, 0, reply->width, reply->height);
}

quint32 X11WindowSystem::parentOf(WindowId window)
{
    const auto cookie = xcb_query_tree(m_connection, window);
    XcbPtr<xcb_query_tree_reply_t> reply(xcb_query_tree_reply(m_connection, cookie, nullptr));
    return reply ? reply->parent : 0;
}

void X11WindowSystem::tileColumns(const QList<WindowId> &windows, const QRect &area)
{
    const QList<QRect> columns = columnRects(area, int(windows.size()));
    for (qsizetype i = 0; i < windows.size(); ++i) {
        const quint32 parent = parentOf(windows[i]);
        if (parent == 0)
            continue; // gone; the sweep will drop it
        const QRect before = clientRect(windows[i]);
        QSize tiled = columns[i].size();
        if (parent == m_root)
            configure(windows[i], columns[i]);
        else
            tiled = moveResizeFramed(windows[i], columns[i]);
        markUntiled(windows[i], before, tiled);
    }
    xcb_flush(m_connection);
}

QRect X11WindowSystem::clientRect(WindowId window)
{
    const auto size = xcb_get_geometry(m_connection, window);
    const auto origin = xcb_translate_coordinates(m_connection, window, m_root, 0, 0);
    XcbPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(m_connection, size, nullptr));
    XcbPtr<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(m_connection, origin, nullptr));
    if (!geometry || !at)
        return {};
    return QRect(at->dst_x, at->dst_y, geometry->width, geometry->height);
}

void X11WindowSystem::markUntiled(WindowId window, const QRect &before, const QSize &tiled)
{
    if (before.isEmpty() || m_untiled == XCB_ATOM_NONE)
        return;
    // A window still at the size an earlier tiling gave it keeps the size it
    // had before that one; a window the user has sized since starts anew.
    quint32 values[6] = {quint32(before.x()), quint32(before.y()), quint32(before.width()), quint32(before.height()),
                         quint32(qMax(1, tiled.width())), quint32(qMax(1, tiled.height()))};
    const auto cookie = xcb_get_property(m_connection, 0, window, m_untiled, XCB_ATOM_CARDINAL, 0, 6);
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, nullptr));
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 24) {
        const auto *earlier = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
        if (QSize(int(earlier[4]), int(earlier[5])) == before.size())
            std::memcpy(values, earlier, 4 * sizeof(quint32));
    }
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, m_untiled, XCB_ATOM_CARDINAL, 32, 6, values);
}

void X11WindowSystem::configure(WindowId window, const QRect &rect)
{
    const quint16 mask = XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH
                         | XCB_CONFIG_WINDOW_HEIGHT;
    const quint32 values[] = {quint32(rect.x()), quint32(rect.y()), quint32(qMax(1, rect.width())),
                              quint32(qMax(1, rect.height()))};
    // Checked, so the move has happened when the command is answered and a
    // window destroyed meanwhile leaves no error queued on the connection.
    const auto cookie = xcb_configure_window_checked(m_connection, window, mask, values);
    XcbPtr<xcb_generic_error_t> error(xcb_request_check(m_connection, cookie));
}

QSize X11WindowSystem::moveResizeFramed(WindowId window, const QRect &rect)
{
    // The size the manager is asked for is the client's; the decorations
    // (_NET_FRAME_EXTENTS: left, right, top, bottom) come on top of it.
    quint32 left = 0, right = 0, top = 0, bottom = 0;
    const auto cookie = xcb_get_property(m_connection, 0, window, m_netFrameExtents,
                                         XCB_ATOM_CARDINAL, 0, 4);
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, nullptr));
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 16) {
        const auto *extents = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
        left = extents[0];
        right = extents[1];
        top = extents[2];
        bottom = extents[3];
    }

    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = m_netMoveResizeWindow;
    // North-west gravity (the position is the frame's), x/y/width/height
    // given, sent on the user's behalf (source 2) so the manager obeys.
    event.data.data32[0] = XCB_GRAVITY_NORTH_WEST | (0xFu << 8) | (2u << 12);
    event.data.data32[1] = quint32(rect.x());
    event.data.data32[2] = quint32(rect.y());
    event.data.data32[3] = quint32(qMax(1, rect.width() - int(left + right)));
    event.data.data32[4] = quint32(qMax(1, rect.height() - int(top + bottom)));
    xcb_send_event(m_connection, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    return QSize(int(event.data.data32[3]), int(event.data.data32[4]));
}

int X11WindowSystem::titleLength(WindowId window)
{
    for (const quint32 property : {m_netWmName, quint32(XCB_ATOM_WM_NAME)}) {
        // Asking for no data still reports the property's size in bytes_after.
        const auto cookie = xcb_get_property(m_connection, 0, window, property,
                                             XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
        xcb_generic_error_t *rawError = nullptr;
        XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, &rawError));
        XcbPtr<xcb_generic_error_t> error(rawError);
        if (!reply)
            return 0; // BadWindow, or the connection is gone: either way no window
        if (reply->bytes_after > 0)
            return int(qMin<quint32>(reply->bytes_after, INT_MAX));
    }
    return 0;
}
