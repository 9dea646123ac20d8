#pragma once

#include "windowsystem.h"

#include <QHash>
#include <QString>

// In-memory desktop: windows exist while they have an entry in m_titles, and
// tiling records where each existing window was put.
class FakeWindowSystem : public WindowSystem
{
public:
    QRect m_desktop{0, 0, 1001, 700};
    QHash<WindowId, QString> m_titles;
    QHash<WindowId, QRect> m_geometry;
    int m_tileCalls = 0;

    QRect desktopRect() override { return m_desktop; }

    void tileColumns(const QList<WindowId> &windows, const QRect &area) override
    {
        ++m_tileCalls;
        const QList<QRect> columns = columnRects(area, int(windows.size()));
        for (qsizetype i = 0; i < windows.size(); ++i) {
            if (m_titles.contains(windows[i]))
                m_geometry[windows[i]] = columns[i];
        }
    }

    int titleLength(WindowId window) override { return int(m_titles.value(window).size()); }
};
