#pragma once

#include <QString>

struct xcb_connection_t;

// Whether the editor has a screen to show its windows on, asked before Qt
// is started: without one, Qt ends the process with a message about its
// plugins that sends a user looking in the wrong place.
//
// `platform` and `display`: the values of Qt's -platform and -display
// options, empty when not given. A platform named there or in
// QT_QPA_PLATFORM other than X11 (offscreen, wayland, ...) is taken as
// given. On a Wayland desktop with an X server at hand (XWayland) and no
// platform named, the editor runs on X: Wayland lets no program place
// another's windows, and the coordinator tiles the editors' windows.
//
// The check's connection to X stays open for the life of this object,
// which main() keeps until Qt has made its own: were the check the X
// server's only client, closing it would reset the server just as Qt
// connects, and Qt's connection would fail.
class DisplayCheck
{
public:
    DisplayCheck(const QString &platform, const QString &display);
    ~DisplayCheck();
    DisplayCheck(const DisplayCheck &) = delete;
    DisplayCheck &operator=(const DisplayCheck &) = delete;

    // The one line to print when there is no screen; empty when there is one.
    QString message() const { return m_message; }
    // The platform to ask Qt for: "xcb" on a Wayland desktop with X at
    // hand, empty to leave the choice to Qt.
    QString platform() const { return m_platform; }

private:
    QString m_message;
    QString m_platform;
    xcb_connection_t *m_x = nullptr;
};
