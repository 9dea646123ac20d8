#include "NodeTreeView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QTimerEvent>

NodeTreeView::NodeTreeView(QWidget *parent) : QTreeView(parent)
{
    setDragDropMode(QAbstractItemView::DragDrop);
    // A collapsed element opens when the pointer rests on it during a drag,
    // so a drop can reach items not yet shown. The view's own delay would
    // also close an open one, and the rows would shift under the pointer.
    setAutoExpandDelay(-1);
}

void NodeTreeView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_openTimer.timerId()) {
        QTreeView::timerEvent(event);
        return;
    }
    m_openTimer.stop();
    if (state() == DraggingState && m_restingOn.isValid() && !isExpanded(m_restingOn))
        expand(m_restingOn);
}

void NodeTreeView::startDrag(Qt::DropActions)
{
    if (m_handler)
        m_handler->startDrag();
}

void NodeTreeView::dragEnterEvent(QDragEnterEvent *event)
{
    // Entering is accepted for anything that may carry a node, or no moves
    // would follow; each move then decides for the item under the pointer.
    if (!m_handler || !m_handler->dragEnter(event->mimeData())) {
        event->ignore();
        return;
    }
    setState(DraggingState);
    event->acceptProposedAction();
}

void NodeTreeView::dragMoveEvent(QDragMoveEvent *event)
{
    // The base class scrolls and opens items; it would refuse every drop,
    // as the model takes none itself.
    QTreeView::dragMoveEvent(event);
    const QModelIndex under = indexAt(event->position().toPoint());
    if (under != m_restingOn) {
        m_restingOn = under;
        m_openTimer.start(kOpenDelayMs, this);
    }
    if (m_handler)
        m_handler->dragOver(event);
    else
        event->ignore();
}

void NodeTreeView::dragLeaveEvent(QDragLeaveEvent *event)
{
    m_openTimer.stop();
    m_restingOn = QPersistentModelIndex();
    QTreeView::dragLeaveEvent(event);
    if (m_handler)
        m_handler->dragLeave();
}

void NodeTreeView::dropEvent(QDropEvent *event)
{
    stopAutoScroll();
    m_openTimer.stop();
    m_restingOn = QPersistentModelIndex();
    setState(NoState);
    viewport()->update();
    if (m_handler)
        m_handler->drop(event);
    else
        event->ignore();
}
