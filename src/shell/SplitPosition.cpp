#include "SplitPosition.h"

#include <QEvent>
#include <QSplitter>

SplitPosition::SplitPosition(QSplitter *splitter, int pixels) : QObject(splitter), m_splitter(splitter), m_pending(pixels)
{
    splitter->installEventFilter(this);
    // Until the user moves the bar, every layout of the window puts it back
    // where the settings say.
    connect(splitter, &QSplitter::splitterMoved, this, [this] { m_userMoved = true; });
}

int SplitPosition::firstPane() const
{
    if (!m_applied || m_splitter->count() < 2)
        return m_pending;
    return m_splitter->sizes().value(0);
}

void SplitPosition::setFirstPane(int pixels)
{
    m_pending = std::max(0, pixels);
    m_applied = m_userMoved = false;
    if (m_splitter->isVisible())
        apply();
}

bool SplitPosition::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_userMoved && watched == m_splitter && (event->type() == QEvent::Resize || event->type() == QEvent::Show)
        && m_splitter->isVisible())
        apply();
    return false;
}

void SplitPosition::apply()
{
    if (m_splitter->count() < 2)
        return;
    const bool across = m_splitter->orientation() == Qt::Horizontal;
    const int length = across ? m_splitter->width() : m_splitter->height();
    // The handle takes its share; sizes that add up to what is left are
    // taken as they are, not rescaled.
    const int space = length - m_splitter->handleWidth() * (m_splitter->count() - 1);
    if (space <= 0)
        return;
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    const int first = std::min(m_pending, space);
    QList<int> sizes{first, space - first};
    for (int i = 2; i < m_splitter->count(); ++i)
        sizes << 0;
    m_splitter->setSizes(sizes);
    m_applied = true;
}
