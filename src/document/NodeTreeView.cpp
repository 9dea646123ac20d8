#include "NodeTreeView.h"

#include "DocumentTreeModel.h"
#include "TreeAccessible.h"
#include "xml/XmlNode.h"

#include <QAccessible>
#include <QScrollBar>
#include <QStyle>
#include <QVarLengthArray>

#include <algorithm>

namespace {

using Path = QVarLengthArray<int, 32>;

// The row numbers from the top item down to `index`.
Path pathOf(const QModelIndex &index)
{
    Path path;
    for (QModelIndex i = index; i.isValid(); i = i.parent())
        path.append(i.row());
    std::reverse(path.begin(), path.end());
    return path;
}

// Document order: an item comes before its rows, and those before its next
// sibling.
bool before(const Path &a, const Path &b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

} // namespace

NodeTreeView::NodeTreeView(QWidget *parent) : QAbstractItemView(parent)
{
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setDragDropMode(QAbstractItemView::DragDrop);
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerPixel);
    m_indent = style()->pixelMetric(QStyle::PM_TreeViewIndentation, nullptr, this);
    static const bool accessible = (QAccessible::installFactory(treeAccessibleFactory), true);
    Q_UNUSED(accessible)
}

NodeTreeView::~NodeTreeView()
{
    if (auto *items = qobject_cast<DocumentTreeModel *>(model()))
        items->setOpenTest({});
}

void NodeTreeView::setModel(QAbstractItemModel *newModel)
{
    if (model())
        disconnect(model(), &QAbstractItemModel::rowsRemoved, this, &NodeTreeView::rowsRemoved);
    m_rows.clear();
    m_open.clear();
    m_leaving.clear();
    // Rows keep only their item, and ask the model for its index.
    if (m_items && m_items == model())
        m_items->setOpenTest({});
    m_items = qobject_cast<DocumentTreeModel *>(newModel);
    if (m_items)
        m_items->setOpenTest([this](const void *item) { return m_open.contains(item); });
    Q_ASSERT(!newModel || m_items);
    QAbstractItemView::setModel(newModel);
    if (newModel)
        connect(newModel, &QAbstractItemModel::rowsRemoved, this, &NodeTreeView::rowsRemoved);
    doItemsLayout();
}

void NodeTreeView::setIndentation(int pixels)
{
    m_indent = pixels;
    changed();
}

int NodeTreeView::rowHeight() const
{
    if (m_rowHeight == 0) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        layOutNow();
        const QModelIndex sample = m_rows.empty() ? QModelIndex() : rowIndex(m_rows.front());
        m_rowHeight = std::max(1, itemDelegate()->sizeHint(option, sample).height());
        if (!sample.isValid()) {
            // No row yet to measure: one line of text with an icon.
            m_rowHeight = 0;
            return std::max(fontMetrics().height(), option.decorationSize.height()) + 4;
        }
    }
    return m_rowHeight;
}

void NodeTreeView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_rowHeight = 0;
    QAbstractItemView::changeEvent(event);
}

void NodeTreeView::deferLayout()
{
    m_pending = true;
    viewport()->update();
}

void NodeTreeView::layOutNow() const
{
    if (!m_pending)
        return;
    m_pending = false;
    m_rows.clear();
    m_hint = 0;
    if (model())
        appendRows(m_rows, rootIndex(), 0, -1, 0);
}

void NodeTreeView::doItemsLayout()
{
    m_pending = true;
    layOutNow();
    QAbstractItemView::doItemsLayout();
}

void NodeTreeView::reset()
{
    m_rows.clear();
    m_open.clear();
    m_leaving.clear();
    m_rowHeight = 0;
    m_pending = true;
    QAbstractItemView::reset();
    changed();
}

bool NodeTreeView::canHaveRows(const QModelIndex &index) const
{
    return !(model()->flags(index) & Qt::ItemNeverHasChildren) && model()->hasChildren(index);
}

void NodeTreeView::appendRows(std::vector<Row> &out, const QModelIndex &parent, int first, int count, int depth) const
{
    // Without recursion: documents may nest deeper than the stack allows.
    // Rows are walked from one to the next, never counted from the first.
    struct Level
    {
        QModelIndex next;
        int left, depth;
    };
    std::vector<Level> stack{{first == 0 ? m_items->firstRowIndex(parent) : model()->index(first, 0, parent), count, depth}};
    while (!stack.empty()) {
        Level &level = stack.back();
        if (!level.next.isValid() || level.left == 0) {
            stack.pop_back();
            continue;
        }
        const QModelIndex child = level.next;
        level.next = m_items->nextRowIndex(child);
        --level.left;
        const int childDepth = level.depth + 1;
        const bool rows = canHaveRows(child);
        out.push_back({child.internalPointer(), level.depth, rows});
        if (rows && m_open.contains(child.internalPointer()))
            stack.push_back({m_items->firstRowIndex(child), -1, childDepth});
    }
}

int NodeTreeView::rowOf(const QModelIndex &index) const
{
    layOutNow();
    if (!index.isValid() || index.model() != model() || m_rows.empty())
        return -1;
    const void *item = index.internalPointer();
    if (m_hint < int(m_rows.size()) && m_rows[size_t(m_hint)].item == item)
        return m_hint;
    const Path path = pathOf(index);
    const auto found = std::partition_point(m_rows.begin(), m_rows.end(),
                                            [&](const Row &row) { return before(pathOf(rowIndex(row)), path); });
    if (found == m_rows.end() || found->item != item)
        return -1;
    m_hint = int(found - m_rows.begin());
    return m_hint;
}

QModelIndex NodeTreeView::rowIndex(const Row &row) const
{
    return m_items->indexOfItem(row.item);
}

int NodeTreeView::runEnd(int row) const
{
    const int depth = m_rows[size_t(row)].depth;
    int end = row + 1;
    while (end < int(m_rows.size()) && m_rows[size_t(end)].depth > depth)
        ++end;
    return end;
}

bool NodeTreeView::isExpanded(const QModelIndex &index) const
{
    return index.isValid() && m_open.contains(index.internalPointer());
}

void NodeTreeView::setExpanded(const QModelIndex &index, bool open)
{
    if (open)
        expand(index);
    else
        collapse(index);
}

void NodeTreeView::expand(const QModelIndex &index)
{
    if (!index.isValid() || index.model() != model() || isExpanded(index)
        || (model()->flags(index) & Qt::ItemNeverHasChildren))
        return;
    m_open.insert(index.internalPointer());
    if (!m_pending) {
        const int at = rowOf(index);
        if (at >= 0) {
            std::vector<Row> run;
            appendRows(run, index, 0, -1, m_rows[size_t(at)].depth + 1);
            m_rows[size_t(at)].hasChildren = !run.empty() || canHaveRows(index);
            m_rows.insert(m_rows.begin() + at + 1, run.begin(), run.end());
        }
    }
    changed();
    emit expanded(index);
}

void NodeTreeView::collapse(const QModelIndex &index)
{
    if (!index.isValid() || !m_open.remove(index.internalPointer()))
        return;
    if (!m_pending) {
        const int at = rowOf(index);
        if (at >= 0)
            m_rows.erase(m_rows.begin() + at + 1, m_rows.begin() + runEnd(at));
    }
    changed();
    emit collapsed(index);
}

bool NodeTreeView::expandRecursively(const QModelIndex &index, const std::function<bool(int)> &progress, int expected)
{
    if (!index.isValid() || index.model() != model())
        return false;
    const bool wasOpen = isExpanded(index);
    const int at = m_pending ? -1 : rowOf(index);
    // Everything below opens, so its rows are the subtree in document
    // order: one walk makes them and notes the items to open, straight
    // into the list when the item is shown (the rows after it wait aside).
    std::vector<Row> after;
    if (at >= 0) {
        after.assign(m_rows.begin() + runEnd(at), m_rows.end());
        m_rows.resize(size_t(at) + 1);
        // With room for edits to come: growing a list of millions later
        // would copy it whole at a keystroke.
        const size_t needed = m_rows.size() + size_t(std::max(0, expected)) + after.size();
        m_rows.reserve(needed + needed / 64 + 1024);
    }
    int made = 0;
    std::vector<const void *> opening;
    struct Level
    {
        QModelIndex next;
        int depth;
    };
    const int depth = at >= 0 ? m_rows[size_t(at)].depth + 1 : 0;
    std::vector<Level> stack;
    if (canHaveRows(index)) {
        opening.push_back(index.internalPointer());
        stack.push_back({m_items->firstRowIndex(index), depth});
    }
    bool cancelled = false;
    while (!stack.empty()) {
        Level &level = stack.back();
        if (!level.next.isValid()) {
            stack.pop_back();
            continue;
        }
        const QModelIndex child = level.next;
        level.next = m_items->nextRowIndex(child);
        const int childDepth = level.depth + 1;
        const bool hasRows = canHaveRows(child);
        if (at >= 0)
            m_rows.push_back({child.internalPointer(), level.depth, hasRows});
        if (hasRows) {
            opening.push_back(child.internalPointer());
            stack.push_back({m_items->firstRowIndex(child), childDepth});
        }
        if (progress && (++made & 0xFFFF) == 0 && !progress(made)) {
            cancelled = true;
            break;
        }
    }
    if (at >= 0) {
        if (cancelled)
            m_pending = true; // what was there is laid out again
        else
            m_rows.insert(m_rows.end(), after.begin(), after.end());
    }
    if (cancelled) {
        changed();
        return false;
    }
    m_open.reserve(m_open.size() + qsizetype(opening.size()));
    for (const void *item : opening)
        m_open.insert(item);
    changed();
    // Told for the item itself, as one change of the view.
    if (!wasOpen && isExpanded(index))
        emit expanded(index);
    return true;
}

void NodeTreeView::collapseRecursively(const QModelIndex &index)
{
    if (!index.isValid() || index.model() != model())
        return;
    const bool wasOpen = isExpanded(index);
    if (!index.parent().isValid()) {
        // Every item is below a top one.
        m_open.clear();
    } else {
        for (const void *item : openUnder(index))
            m_open.remove(item);
    }
    if (!m_pending) {
        const int at = rowOf(index);
        if (at >= 0)
            m_rows.erase(m_rows.begin() + at + 1, m_rows.begin() + runEnd(at));
    }
    changed();
    if (wasOpen)
        emit collapsed(index);
}

std::vector<const void *> NodeTreeView::openUnder(const QModelIndex &index) const
{
    std::vector<const void *> out;
    // A walk of the subtree while it is smaller than the set of open items;
    // past that, the set is searched for the items below.
    qsizetype budget = m_open.size();
    std::vector<QModelIndex> pending{index};
    while (!pending.empty() && budget-- > 0) {
        const QModelIndex at = pending.back();
        pending.pop_back();
        if (m_open.contains(at.internalPointer()))
            out.push_back(at.internalPointer());
        if (canHaveRows(at))
            for (QModelIndex child = m_items->firstRowIndex(at); child.isValid(); child = m_items->nextRowIndex(child))
                pending.push_back(child);
    }
    if (pending.empty())
        return out;
    out.clear();
    const XmlNode top = m_items->nodeAt(index);
    for (const void *item : m_open)
        if (top.isAncestorOf(m_items->nodeAt(m_items->indexOfItem(item))))
            out.push_back(item);
    return out;
}

void NodeTreeView::expandAll()
{
    if (!model())
        return;
    for (QModelIndex top = m_items->firstRowIndex(rootIndex()); top.isValid(); top = m_items->nextRowIndex(top))
        expandRecursively(top);
}

void NodeTreeView::collapseAll()
{
    m_open.clear();
    m_pending = true;
    changed();
}

void NodeTreeView::changed()
{
    viewport()->update();
    // While rows are to be laid out anew, they are laid out once when next
    // needed, not by each change.
    if (!m_pending)
        updateGeometries();
    else if (!m_geometryTimer.isActive())
        m_geometryTimer.start(0, this);
}

int NodeTreeView::shownCount() const
{
    layOutNow();
    return int(m_rows.size());
}

QModelIndex NodeTreeView::shownIndex(int row) const
{
    layOutNow();
    return row >= 0 && row < int(m_rows.size()) ? rowIndex(m_rows[size_t(row)]) : QModelIndex();
}

int NodeTreeView::shownDepth(int row) const
{
    layOutNow();
    return row >= 0 && row < int(m_rows.size()) ? m_rows[size_t(row)].depth : -1;
}

QModelIndex NodeTreeView::indexBelow(const QModelIndex &index) const
{
    const int at = rowOf(index);
    return at < 0 ? QModelIndex() : shownIndex(at + 1);
}

QModelIndex NodeTreeView::indexAbove(const QModelIndex &index) const
{
    const int at = rowOf(index);
    return at < 1 ? QModelIndex() : shownIndex(at - 1);
}

// Rows and their numbers.

void NodeTreeView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    if (m_pending)
        return;
    int depth = 0;
    if (parent != rootIndex()) {
        const int at = rowOf(parent);
        if (at < 0)
            return;
        m_rows[size_t(at)].hasChildren = true;
        if (!isExpanded(parent)) {
            viewport()->update();
            return;
        }
        depth = m_rows[size_t(at)].depth + 1;
    }
    int at = 0;
    if (start > 0) {
        // The sibling before the new rows keeps its number.
        const int previous = rowOf(model()->index(start - 1, 0, parent));
        if (previous < 0) {
            m_pending = true;
            changed();
            return;
        }
        at = runEnd(previous);
    } else {
        at = parent == rootIndex() ? 0 : rowOf(parent) + 1;
    }
    std::vector<Row> run;
    appendRows(run, parent, start, end - start + 1, depth);
    m_rows.insert(m_rows.begin() + at, run.begin(), run.end());
    changed();
}

void NodeTreeView::openBelow(const QModelIndex &parent, int first, int last, std::vector<const void *> &out) const
{
    if (m_open.isEmpty())
        return;
    std::vector<QModelIndex> pending;
    for (int row = first; row <= last; ++row)
        pending.push_back(model()->index(row, 0, parent));
    while (!pending.empty()) {
        const QModelIndex index = pending.back();
        pending.pop_back();
        if (!m_open.contains(index.internalPointer()))
            continue;
        out.push_back(index.internalPointer());
        for (QModelIndex child = m_items->firstRowIndex(index); child.isValid(); child = m_items->nextRowIndex(child))
            pending.push_back(child);
    }
}

void NodeTreeView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    // Whoever else listens may still ask whether a leaving item is open:
    // they are forgotten once gone.
    openBelow(parent, start, end, m_leaving);
    if (m_pending)
        return;
    if (parent != rootIndex() && (!isExpanded(parent) || rowOf(parent) < 0))
        return;
    const int first = rowOf(model()->index(start, 0, parent));
    const int last = rowOf(model()->index(end, 0, parent));
    if (first < 0 || last < 0) {
        m_pending = true;
        return;
    }
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + runEnd(last));
    m_hint = 0;
}

void NodeTreeView::rowsRemoved(const QModelIndex &parent, int, int)
{
    for (const void *item : m_leaving)
        m_open.remove(item);
    m_leaving.clear();
    if (!m_pending) {
        if (parent != rootIndex() && !model()->hasChildren(parent)) {
            const int at = rowOf(parent);
            if (at >= 0)
                m_rows[size_t(at)].hasChildren = false;
        }
    }
    changed();
}

void NodeTreeView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles)
{
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    // A label's width may change the scrolled width: measured once after a
    // run of changes, such as the marks of a find.
    if (!m_geometryTimer.isActive())
        m_geometryTimer.start(0, this);
}

// Geometry: rows of one height, scrolled one row at a time.

int NodeTreeView::topRow() const
{
    return verticalScrollBar()->value();
}

int NodeTreeView::rowsPerPage() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

int NodeTreeView::rowAtY(int y) const
{
    if (y < 0)
        return -1;
    const int row = topRow() + y / rowHeight();
    return row < shownCount() ? row : -1;
}

int NodeTreeView::measureWidth() const
{
    // As wide as the widest row in sight, as a column sized to its contents.
    layOutNow();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int width = 0;
    const int last = std::min(int(m_rows.size()), topRow() + rowsPerPage() + 1);
    for (int at = topRow(); at < last; ++at) {
        const Row &row = m_rows[size_t(at)];
        width = std::max(width, (row.depth + 1) * m_indent + itemDelegate()->sizeHint(option, rowIndex(row)).width());
    }
    return width;
}

int NodeTreeView::contentWidth() const
{
    if (m_width < 0)
        m_width = measureWidth();
    return m_width;
}

int NodeTreeView::sizeHintForColumn(int column) const
{
    return column == 0 ? measureWidth() : -1;
}

QRect NodeTreeView::visualRect(const QModelIndex &index) const
{
    const int at = rowOf(index);
    if (at < 0)
        return QRect();
    const int x = (m_rows[size_t(at)].depth + 1) * m_indent - horizontalOffset();
    const int width = std::max(contentWidth(), x + horizontalOffset() + 1) - (x + horizontalOffset());
    return QRect(x, (at - topRow()) * rowHeight(), width, rowHeight());
}

QModelIndex NodeTreeView::indexAt(const QPoint &point) const
{
    const int at = rowAtY(point.y());
    if (at < 0 || point.x() + horizontalOffset() >= contentWidth())
        return QModelIndex();
    return rowIndex(m_rows[size_t(at)]);
}

void NodeTreeView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid() || index.model() != model())
        return;
    // An item is scrolled to through its closed parents, opened on the way.
    if (state() == NoState) {
        std::vector<QModelIndex> closed;
        for (QModelIndex p = index.parent(); p.isValid() && p != rootIndex(); p = p.parent())
            if (!isExpanded(p))
                closed.push_back(p);
        for (auto it = closed.rbegin(); it != closed.rend(); ++it)
            expand(*it);
    }
    const int at = rowOf(index);
    if (at < 0)
        return;
    updateGeometries();
    const int page = rowsPerPage();
    int top = topRow();
    switch (hint) {
    case PositionAtTop: top = at; break;
    case PositionAtBottom: top = at - page + 1; break;
    case PositionAtCenter: top = at - page / 2; break;
    case EnsureVisible:
        if (at < top)
            top = at;
        else if (at >= top + page)
            top = at - page + 1;
        break;
    }
    verticalScrollBar()->setValue(top);
    const int width = contentWidth();
    const int viewportWidth = viewport()->width();
    if (hint == PositionAtCenter)
        horizontalScrollBar()->setValue((width - viewportWidth) / 2);
    else if (width > viewportWidth)
        horizontalScrollBar()->setValue(0);
}

int NodeTreeView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int NodeTreeView::verticalOffset() const
{
    return topRow() * rowHeight();
}

bool NodeTreeView::isIndexHidden(const QModelIndex &) const
{
    return false;
}

void NodeTreeView::updateGeometries()
{
    m_geometryTimer.stop();
    const int rows = shownCount();
    const int page = rowsPerPage();
    verticalScrollBar()->setRange(0, std::max(0, rows - page));
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setSingleStep(1);
    m_width = -1;
    const int width = contentWidth();
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(std::max(1, m_indent));
    QAbstractItemView::updateGeometries();
}

void NodeTreeView::scrollContentsBy(int dx, int dy)
{
    Q_UNUSED(dx)
    if (dy != 0) {
        // Rows further down may be wider.
        m_width = -1;
        const int width = contentWidth();
        horizontalScrollBar()->setRange(0, std::max(horizontalScrollBar()->maximum(), width - viewport()->width()));
    }
    updateEditorGeometries();
    viewport()->update();
}

void NodeTreeView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    if (!selectionModel())
        return;
    const QRect r = rect.normalized();
    const int first = rowAtY(std::max(0, r.top()));
    int last = rowAtY(r.bottom());
    if (last < 0)
        last = shownCount() - 1;
    QItemSelection selection;
    if (first >= 0 && r.left() + horizontalOffset() < contentWidth())
        for (int at = first; at <= last; ++at)
            selection.select(rowIndex(m_rows[size_t(at)]), rowIndex(m_rows[size_t(at)]));
    selectionModel()->select(selection, command);
}

QRegion NodeTreeView::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    for (const QItemSelectionRange &range : selection)
        for (int row = range.top(); row <= range.bottom(); ++row) {
            const QRect r = visualRect(model()->index(row, 0, range.parent()));
            if (r.isValid())
                region += QRect(0, r.top(), viewport()->width(), r.height());
        }
    return region;
}

QModelIndex NodeTreeView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    layOutNow();
    if (m_rows.empty())
        return QModelIndex();
    const QModelIndex current = currentIndex();
    const int at = rowOf(current);
    if (at < 0)
        return rowIndex(m_rows.front());
    const int last = int(m_rows.size()) - 1;
    const bool leftToRight = !isRightToLeft();
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious: return rowIndex(m_rows[size_t(std::max(0, at - 1))]);
    case MoveDown:
    case MoveNext: return rowIndex(m_rows[size_t(std::min(last, at + 1))]);
    case MoveHome: return rowIndex(m_rows.front());
    case MoveEnd: return rowIndex(m_rows.back());
    case MovePageUp: return rowIndex(m_rows[size_t(std::max(0, at - rowsPerPage()))]);
    case MovePageDown: return rowIndex(m_rows[size_t(std::min(last, at + rowsPerPage()))]);
    case MoveLeft:
    case MoveRight:
        if ((cursorAction == MoveLeft) == leftToRight) {
            if (isExpanded(current) && m_rows[size_t(at)].hasChildren) {
                collapse(current);
                return current;
            }
            const QModelIndex parent = current.parent();
            if (parent.isValid() && parent != rootIndex()
                && style()->styleHint(QStyle::SH_ItemView_ArrowKeysNavigateIntoChildren, nullptr, this))
                return parent;
            return current;
        }
        if (!isExpanded(current) && m_rows[size_t(at)].hasChildren) {
            expand(current);
            return current;
        }
        if (m_rows[size_t(at)].hasChildren
            && style()->styleHint(QStyle::SH_ItemView_ArrowKeysNavigateIntoChildren, nullptr, this))
            return rowIndex(m_rows[size_t(std::min(last, at + 1))]);
        return current;
    }
    return current;
}
