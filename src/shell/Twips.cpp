#include "Twips.h"

#include <QWidget>

#include <cmath>

namespace Twips {

int toPixelsX(int twips, const QWidget *widget)
{
    return int(std::lround(double(twips) * widget->logicalDpiX() / 1440.0));
}

int toPixelsY(int twips, const QWidget *widget)
{
    return int(std::lround(double(twips) * widget->logicalDpiY() / 1440.0));
}

int fromPixelsX(int pixels, const QWidget *widget)
{
    return int(std::lround(double(pixels) * 1440.0 / widget->logicalDpiX()));
}

int fromPixelsY(int pixels, const QWidget *widget)
{
    return int(std::lround(double(pixels) * 1440.0 / widget->logicalDpiY()));
}

} // namespace Twips
