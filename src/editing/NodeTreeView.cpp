#include "NodeTreeView.h"

#include <QDragEnterEvent>
#include <QDropEvent>

NodeTreeView::NodeTreeView(QWidget *parent) : QTreeView(parent)
{
    setDragDropMode(QAbstractItemView::DragDrop);
    // A collapsed element opens when the pointer rests on it during a drag,
    // so a drop can reach items not yet shown.
    setAutoExpandDelay(800);
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
    if (m_handler)
        m_handler->dragOver(event);
    else
        event->ignore();
}

void NodeTreeView::dragLeaveEvent(QDragLeaveEvent *event)
{
    QTreeView::dragLeaveEvent(event);
    if (m_handler)
        m_handler->dragLeave();
}

void NodeTreeView::dropEvent(QDropEvent *event)
{
    stopAutoScroll();
    setState(NoState);
    viewport()->update();
    if (m_handler)
        m_handler->drop(event);
    else
        event->ignore();
}
