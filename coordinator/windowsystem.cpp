#include "windowsystem.h"

#include "x11windowsystem.h"

QList<QRect> WindowSystem::columnRects(const QRect &area, int n)
{
    QList<QRect> columns;
    if (n <= 0)
        return columns;
    columns.reserve(n);
    const int base = area.width() / n;
    const int wider = area.width() % n;
    int x = area.x();
    for (int i = 0; i < n; ++i) {
        const int width = base + (i < wider ? 1 : 0);
        columns.append(QRect(x, area.y(), width, area.height()));
        x += width;
    }
    return columns;
}

std::unique_ptr<WindowSystem> createWindowSystem()
{
    if (auto x11 = X11WindowSystem::open())
        return x11;
    return std::make_unique<NullWindowSystem>();
}
