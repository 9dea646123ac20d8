#pragma once

class QWidget;

// Window geometry is stored in twips, 1440 to the inch, converted with the
// screen's logical resolution.
namespace Twips {
int toPixelsX(int twips, const QWidget *widget);
int toPixelsY(int twips, const QWidget *widget);
int fromPixelsX(int pixels, const QWidget *widget);
int fromPixelsY(int pixels, const QWidget *widget);
} // namespace Twips
