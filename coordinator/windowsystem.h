#pragma once

#include <QList>
#include <QRect>

#include <memory>

using WindowId = quint32;

// The window operations the coordinator needs from the desktop. Implemented
// over X11 for the real program; tests use an in-memory fake.
class WindowSystem
{
public:
    virtual ~WindowSystem() = default;

    // The area windows are tiled over: the whole screen.
    virtual QRect desktopRect() = 0;

    // Places windows[i] in column i of columnRects(area, windows.size()).
    // Windows that no longer exist are skipped silently.
    virtual void tileColumns(const QList<WindowId> &windows, const QRect &area) = 0;

    // Length of the window's title; 0 when the window does not exist (or has
    // an empty title, which the coordinator treats the same way).
    virtual int titleLength(WindowId window) = 0;

    // n side-by-side columns, each the full height of area, together exactly
    // its width; the first (width % n) columns are one pixel wider.
    static QList<QRect> columnRects(const QRect &area, int n);
};

// Used when no display can be opened: the coordinator keeps serving the
// protocol, but there is nothing to tile, and since window existence cannot
// be checked every window counts as alive, so entries leave by REMOVE or
// when the editor process that registered them ends.
// Sweeping everything out instead would end the coordinator at its first tick.
class NullWindowSystem : public WindowSystem
{
public:
    QRect desktopRect() override { return {}; }
    void tileColumns(const QList<WindowId> &, const QRect &) override {}
    int titleLength(WindowId) override { return 1; }
};

// The X11 implementation when the display named by DISPLAY can be opened,
// NullWindowSystem otherwise.
std::unique_ptr<WindowSystem> createWindowSystem();
