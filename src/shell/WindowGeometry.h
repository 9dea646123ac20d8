#pragma once

#include <QRect>

// What the settings need of an editor window to restore and remember where
// it was. All values are in twips (Twips.h converts).
class WindowGeometry
{
public:
    virtual ~WindowGeometry() = default;

    // The window's left, top, width and height. Whatever notion the window
    // uses (frame or client area), setWindowRectTwips() must take the same,
    // so that a window reopens exactly where it was closed.
    virtual QRect windowRectTwips() const = 0;
    // Moves and resizes the window in one step. `positionStored` is false
    // when the store had no usable left or top: the window then keeps its
    // size request only and lets the platform place it, as for any new
    // window.
    virtual void setWindowRectTwips(const QRect &rect, bool positionStored) = 0;

    // Width of the tree pane (`hsp`'s first pane).
    virtual int hspPosition() const = 0;
    virtual void setHspPosition(int twips) = 0;
    // Height of the upper pane (`vsp`'s first pane).
    virtual int vspPosition() const = 0;
    virtual void setVspPosition(int twips) = 0;

    // Neither minimised nor maximised: only then is the geometry worth
    // keeping.
    virtual bool isNormalState() const = 0;
};
