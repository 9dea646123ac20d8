#include "NodeTreeView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QTimerEvent>

// The view's laid-out rows are only reachable through Qt's private header;
// the build pins the Qt version it was written against.
#include <QtCore/private/qabstractitemmodel_p.h>
#include <QtWidgets/private/qtreeview_p.h>

static_assert(QT_VERSION >= QT_VERSION_CHECK(6, 4, 0) && QT_VERSION < QT_VERSION_CHECK(6, 5, 0),
              "NodeTreeView edits QTreeView's laid-out rows; check them against this Qt version");

namespace {

QTreeViewPrivate *rowsOf(QTreeView *view)
{
    struct Access : QTreeView
    {
        static QObjectData *data(QTreeView *v) { return (v->*&Access::d_ptr).data(); }
    };
    return static_cast<QTreeViewPrivate *>(Access::data(view));
}

// Where the rows of `parent` (laid out at `parentItem`, -1 for the top)
// begin: the position of its row `row`, walking over the open rows of the
// ones before it. -1 when the laid-out rows do not match the model.
int positionOfRow(const QTreeViewPrivate *d, int parentItem, int row)
{
    const QList<QTreeViewItem> &items = d->viewItems;
    int at = parentItem + 1;
    for (int r = 0; r < row; ++r) {
        if (at >= items.size() || items.at(at).parentItem != parentItem)
            return -1;
        at += 1 + int(items.at(at).total);
    }
    return at;
}

// After rows of `parent` came or went, the laid-out rows of its later
// children still carry their former row numbers; the view compares them.
void renumberFrom(QTreeViewPrivate *d, int at, int parentItem, const QModelIndex &parent, int fromRow)
{
    QList<QTreeViewItem> &items = d->viewItems;
    const int rows = d->model->rowCount(parent);
    for (int r = fromRow; r < rows && at < items.size() && items.at(at).parentItem == parentItem; ++r) {
        items[at].index = d->model->index(r, 0, parent);
        at += 1 + int(items.at(at).total);
    }
}

void addToTotals(QTreeViewPrivate *d, int item, int delta)
{
    for (; item != -1; item = d->viewItems.at(item).parentItem)
        d->viewItems[item].total = uint(int(d->viewItems.at(item).total) + delta);
}

// Whether rows under `parent` are shown, and where: false when the view
// must lay everything out again (pending layout, hidden rows).
bool openRows(QTreeViewPrivate *d, const QModelIndex &parent, int *parentItem)
{
    if (d->delayedPendingLayout || !d->hiddenIndexes.isEmpty() || parent.column() > 0 || d->viewItems.isEmpty())
        return false;
    if (parent == d->root) {
        *parentItem = -1;
        return true;
    }
    *parentItem = d->viewIndex(parent);
    return *parentItem != -1 && d->viewItems.at(*parentItem).expanded;
}

} // namespace

struct NodeTreeView::KeptRows
{
    QList<QTreeViewItem> items;
    qsizetype expanded = 0;
};

NodeTreeView::NodeTreeView(QWidget *parent) : QTreeView(parent)
{
    setDragDropMode(QAbstractItemView::DragDrop);
    // A collapsed element opens when the pointer rests on it during a drag,
    // so a drop can reach items not yet shown. The view's own delay would
    // also close an open one, and the rows would shift under the pointer.
    setAutoExpandDelay(-1);
}

NodeTreeView::~NodeTreeView() = default;

void NodeTreeView::setModel(QAbstractItemModel *model)
{
    QTreeView::setModel(model);
    // After the view's own handler, which drops every laid-out row.
    if (model)
        connect(model, &QAbstractItemModel::rowsRemoved, this, &NodeTreeView::rowsGone);
}

void NodeTreeView::reserveOpen(qsizetype open, qsizetype rows)
{
    QTreeViewPrivate *d = rowsOf(this);
    d->expandedIndexes.reserve(d->expandedIndexes.size() + open);
    // Grown step by step, the rows would be copied and their fresh memory
    // cleared once per doubling.
    d->viewItems.reserve(d->viewItems.size() + rows);
    if (model()) {
        auto &persistent = static_cast<QAbstractItemModelPrivate *>(QObjectPrivate::get(model()))->persistent.indexes;
        persistent.reserve(persistent.size() + open);
    }
}

bool NodeTreeView::expandSubtree(const QModelIndex &index)
{
    QTreeViewPrivate *d = rowsOf(this);
    if (d->delayedPendingLayout || !d->hiddenIndexes.isEmpty() || !index.isValid() || index.column() != 0)
        return false;
    const int item = d->viewIndex(index);
    if (item < 0)
        return false;
    // The view lays out a subtree in one appending pass only at the end of
    // its rows (elsewhere each opened item moves every row after it): the
    // rows after the subtree are set aside meanwhile.
    const int shown = int(d->viewItems.at(item).total);
    addToTotals(d, item, -shown);
    QList<QTreeViewItem> after = d->viewItems.mid(item + 1 + shown);
    d->viewItems.resize(item + 1);
    if (d->storeExpanded(index))
        emit expanded(index);
    d->viewItems[item].expanded = true;
    d->layout(item, true, true);
    QTreeViewItem &top = d->viewItems[item];
    top.hasChildren = top.total > 0;
    const int added = int(top.total);
    for (QTreeViewItem &row : after)
        if (row.parentItem > item)
            row.parentItem += added - shown;
    d->viewItems.append(after);
    d->lastViewedItem = 0;
    updateGeometries();
    viewport()->update();
    return true;
}

void NodeTreeView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QTreeViewPrivate *d = rowsOf(this);
    int parentItem = -1;
    const int at = openRows(d, parent, &parentItem) ? positionOfRow(d, parentItem, start) : -1;
    if (at < 0) {
        QTreeView::rowsInserted(parent, start, end);
        return;
    }
    const int count = end - start + 1;
    const int rows = d->model->rowCount(parent);
    d->insertViewItems(at, count, QTreeViewItem());
    addToTotals(d, parentItem, count);
    const uint level = parentItem < 0 ? 0 : d->viewItems.at(parentItem).level + 1;
    if (parentItem >= 0)
        d->viewItems[parentItem].hasChildren = true;
    if (start > 0) {
        const int before = positionOfRow(d, parentItem, start - 1);
        if (before >= 0)
            d->viewItems[before].hasMoreSiblings = true;
    }
    // From the last to the first, so that opening one shifts none of the
    // rows still to be filled in.
    for (int k = count - 1; k >= 0; --k) {
        QTreeViewItem &item = d->viewItems[at + k];
        item.index = d->model->index(start + k, 0, parent);
        item.parentItem = parentItem;
        item.level = level;
        item.hasMoreSiblings = start + k < rows - 1;
        if (d->isIndexExpanded(item.index)) {
            item.expanded = true;
            d->layout(at + k);
            QTreeViewItem &opened = d->viewItems[at + k];
            opened.hasChildren = opened.total > 0;
        } else {
            item.hasChildren = d->hasVisibleChildren(item.index);
        }
    }
    int after = at;
    for (int k = 0; k < count; ++k)
        after += 1 + int(d->viewItems.at(after).total);
    renumberFrom(d, after, parentItem, parent, end + 1);
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    viewport()->update();
}

void NodeTreeView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    QTreeViewPrivate *d = rowsOf(this);
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    m_kept.reset();
    int parentItem = -1;
    if (!openRows(d, parent, &parentItem)) {
        // Rows under a closed or unseen item are not laid out: nothing moves
        // but the parent's mark, set when the rows are gone.
        const bool unseen = !d->delayedPendingLayout && d->hiddenIndexes.isEmpty() && !d->viewItems.isEmpty()
                            && parent != d->root && parent.column() == 0
                            && (parentItem == -1 || !d->viewItems.at(parentItem).expanded);
        if (unseen)
            keepRows(d);
        else
            d->viewItems.clear();
        return;
    }
    const int at = positionOfRow(d, parentItem, start);
    const int past = at < 0 ? -1 : positionOfRow(d, parentItem, end + 1);
    if (at < 0 || past < 0) {
        d->viewItems.clear();
        return;
    }
    d->removeViewItems(at, past - at);
    addToTotals(d, parentItem, at - past);
    d->lastViewedItem = 0;
    keepRows(d);
}

void NodeTreeView::keepRows(QTreeViewPrivate *d)
{
    // Qt's own handling of the removal, which runs next, drops the rows and
    // asks for a layout of all of them. Marked as pending already, no layout
    // is started; the rows come back in rowsGone.
    m_kept = std::make_unique<KeptRows>();
    m_kept->items.swap(d->viewItems);
    m_kept->expanded = d->expandedIndexes.size();
    d->delayedPendingLayout = true;
}

void NodeTreeView::rowsGone(const QModelIndex &parent, int start, int)
{
    QTreeViewPrivate *d = rowsOf(this);
    std::unique_ptr<KeptRows> kept = std::move(m_kept);
    // Something laid the rows out in between, or no rows were kept.
    if (!kept || !d->viewItems.isEmpty() || !d->delayedPendingLayout)
        return;
    d->viewItems.swap(kept->items);
    d->delayedPendingLayout = false;
    if (d->expandedIndexes.size() != kept->expanded) {
        // An item opened or closed in between; its rows are not in the kept ones.
        d->viewItems.clear();
        scheduleDelayedItemsLayout();
        return;
    }
    int parentItem = -1;
    if (parent != d->root)
        parentItem = d->viewIndex(parent);
    const int rows = d->model->rowCount(parent);
    if (parentItem >= 0 && rows == 0)
        d->viewItems[parentItem].hasChildren = false;
    if (parent == d->root || (parentItem >= 0 && d->viewItems.at(parentItem).expanded)) {
        const int at = positionOfRow(d, parentItem, start);
        if (at < 0) {
            d->viewItems.clear();
            scheduleDelayedItemsLayout();
            return;
        }
        if (start > 0 && start == rows) {
            const int before = positionOfRow(d, parentItem, start - 1);
            if (before >= 0)
                d->viewItems[before].hasMoreSiblings = false;
        }
        renumberFrom(d, at, parentItem, parent, start);
    }
    updateGeometries();
    viewport()->update();
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
