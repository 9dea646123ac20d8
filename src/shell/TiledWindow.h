#pragma once

#include <QRect>

#include <optional>

class QWidget;

// Where the window stood and how large it was before the window coordinator
// tiled it, in the window's own (logical) pixels: nothing when it was never
// tiled, when it has been sized since, or away from X. Settings keep this
// instead of the tile, so tiling does not change the size a window opens at.
std::optional<QRect> geometryBeforeTiling(const QWidget *window);
