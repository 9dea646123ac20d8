#pragma once

#include <QString>

// Whether the editor has a screen to show its windows on, asked before Qt
// is started: without one, Qt ends the process with a message about its
// plugins that sends a user looking in the wrong place.
//
// `platform` and `display`: the values of Qt's -platform and -display
// options, empty when not given. A platform named there or in
// QT_QPA_PLATFORM other than X11 (offscreen, wayland, ...) is taken as
// given. Returns the one line to print when there is no screen; empty when
// there is one.
QString missingDisplayMessage(const QString &platform, const QString &display);
