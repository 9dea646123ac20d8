#pragma once

#include "windowsystem.h"

struct xcb_connection_t;

// Window operations on the X display named by DISPLAY, through one xcb
// connection owned by this object. Window ids are X window ids.
//
// Tiling: a window whose parent is the root (no window manager, as under
// Xvfb, or a non-reparenting one) is configured directly. A window a window
// manager has put into a frame is moved through the manager with
// _NET_MOVERESIZE_WINDOW, so that the frame, decorations included, fills the
// column. Each tiled window carries _OSTREL_UNTILED (CARDINAL[6]): where its
// client was and how large (x, y, width, height) before it was first tiled,
// then the client size tiling gave it, so the editor keeps the size the user
// chose rather than the tile's.
class X11WindowSystem : public WindowSystem
{
public:
    // nullptr when the display cannot be opened.
    static std::unique_ptr<X11WindowSystem> open();
    ~X11WindowSystem() override;

    X11WindowSystem(const X11WindowSystem &) = delete;
    X11WindowSystem &operator=(const X11WindowSystem &) = delete;

    QRect desktopRect() override;
    void tileColumns(const QList<WindowId> &windows, const QRect &area) override;
    // Byte length of _NET_WM_NAME, or of WM_NAME when that is empty.
    int titleLength(WindowId window) override;

private:
    X11WindowSystem(xcb_connection_t *connection, quint32 root);

    quint32 internAtom(const char *name);
    // The window's parent, 0 when the window does not exist.
    quint32 parentOf(WindowId window);
    void configure(WindowId window, const QRect &rect);
    // The client size asked for.
    QSize moveResizeFramed(WindowId window, const QRect &rect);
    // The window's client area in root coordinates; empty when it is gone.
    QRect clientRect(WindowId window);
    void markUntiled(WindowId window, const QRect &before, const QSize &tiled);

    xcb_connection_t *m_connection;
    quint32 m_root;
    quint32 m_netWmName;
    quint32 m_netFrameExtents;
    quint32 m_netMoveResizeWindow;
    quint32 m_untiled;
};
