// The tree view's painting and its answers to the mouse, the keys and drags.
#include "NodeTreeView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimerEvent>

#include <algorithm>

// Painting and the mouse.

void NodeTreeView::paintEvent(QPaintEvent *event)
{
    layOutNow();
    QPainter painter(viewport());
    if (m_rows.empty() || !model())
        return;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int height = rowHeight();
    const int first = std::max(topRow(), topRow() + event->rect().top() / height);
    const int last = std::min(int(m_rows.size()) - 1, topRow() + event->rect().bottom() / height);
    const QModelIndex current = currentIndex();
    const bool focus = hasFocus() || viewport()->hasFocus();
    const bool showSelectedBranch = style()->styleHint(QStyle::SH_ItemView_ShowDecorationSelected, nullptr, this);
    for (int at = first; at <= last; ++at) {
        const Row &row = m_rows[size_t(at)];
        const QRect item = visualRect(rowIndex(row));
        QStyleOptionViewItem o = option;
        o.rect = item;
        const bool selected = selectionModel() && selectionModel()->isSelected(rowIndex(row));
        if (selected)
            o.state |= QStyle::State_Selected;
        if (rowIndex(row) == current && focus)
            o.state |= QStyle::State_HasFocus;
        if (!(model()->flags(rowIndex(row)) & Qt::ItemIsEnabled))
            o.state &= ~QStyle::State_Enabled;
        // The marks of every level: lines down past later siblings, and the
        // item's own open or closed mark.
        QStyleOption branch;
        branch.initFrom(this);
        QModelIndex level = rowIndex(row);
        for (int depth = row.depth; depth >= 0; --depth) {
            branch.rect = QRect(depth * m_indent - horizontalOffset(), item.top(), m_indent, height);
            branch.state = QStyle::State_None;
            if (isEnabled())
                branch.state |= QStyle::State_Enabled;
            const QModelIndex parent = level.parent();
            if (level.row() + 1 < model()->rowCount(parent))
                branch.state |= QStyle::State_Sibling;
            if (depth == row.depth) {
                branch.state |= QStyle::State_Item;
                if (row.hasChildren)
                    branch.state |= QStyle::State_Children;
                if (isExpanded(rowIndex(row)))
                    branch.state |= QStyle::State_Open;
                if (selected && showSelectedBranch) {
                    branch.state |= QStyle::State_Selected;
                    painter.fillRect(branch.rect, palette().brush(focus ? QPalette::Active : QPalette::Inactive,
                                                                   QPalette::Highlight));
                }
            }
            style()->drawPrimitive(QStyle::PE_IndicatorBranch, &branch, &painter, this);
            level = parent;
        }
        itemDelegate()->paint(&painter, o, rowIndex(row));
    }
}

QModelIndex NodeTreeView::pressedRowToggles(const QPoint &pos) const
{
    // The item whose open or closed mark is under `pos`.
    const int at = rowAtY(pos.y());
    if (at < 0 || !m_rows[size_t(at)].hasChildren)
        return QModelIndex();
    const int x = pos.x() + horizontalOffset();
    const int markLeft = m_rows[size_t(at)].depth * m_indent;
    return x >= markLeft && x < markLeft + m_indent ? rowIndex(m_rows[size_t(at)]) : QModelIndex();
}

void NodeTreeView::toggle(const QModelIndex &index)
{
    setExpanded(index, !isExpanded(index));
}

void NodeTreeView::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex mark = pressedRowToggles(event->position().toPoint());
    if (mark.isValid() && event->button() == Qt::LeftButton) {
        toggle(mark);
        return;
    }
    m_pressed = indexAt(event->position().toPoint());
    QAbstractItemView::mousePressEvent(event);
}

void NodeTreeView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (state() != NoState || !viewport()->rect().contains(pos))
        return;
    if (pressedRowToggles(pos).isValid() || event->button() != Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    const QPersistentModelIndex index = indexAt(pos);
    if (!index.isValid() || index != m_pressed) {
        mousePressEvent(event);
        return;
    }
    emit doubleClicked(index);
    if (!index.isValid() || edit(index, DoubleClicked, event))
        return;
    if (!style()->styleHint(QStyle::SH_ItemView_ActivateItemOnSingleClick, nullptr, this))
        emit activated(index);
    const int at = rowOf(index);
    if (at >= 0 && m_rows[size_t(at)].hasChildren)
        toggle(index);
}

void NodeTreeView::keyPressEvent(QKeyEvent *event)
{
    const QModelIndex current = currentIndex();
    if (current.isValid() && rowOf(current) >= 0) {
        switch (event->key()) {
        case Qt::Key_Asterisk: expandRecursively(current); break;
        case Qt::Key_Plus: expand(current); break;
        case Qt::Key_Minus: collapse(current); break;
        default: break;
        }
    }
    QAbstractItemView::keyPressEvent(event);
}

// Dragging.

void NodeTreeView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_geometryTimer.timerId()) {
        m_geometryTimer.stop();
        updateGeometries();
        return;
    }
    if (event->timerId() != m_openTimer.timerId()) {
        QAbstractItemView::timerEvent(event);
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
    // The base class scrolls at the edges; it would refuse every drop, as
    // the model takes none itself.
    QAbstractItemView::dragMoveEvent(event);
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
    QAbstractItemView::dragLeaveEvent(event);
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
