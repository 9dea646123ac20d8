#include "TreeAccessible.h"

#include "NodeTreeView.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

namespace {

class RowAccessible;

// The view: its children are the top rows.
class TreeAccessible : public QAccessibleWidget
{
public:
    explicit TreeAccessible(NodeTreeView *view) : QAccessibleWidget(view, QAccessible::Tree) {}
    ~TreeAccessible() override
    {
        for (QAccessible::Id id : std::as_const(m_rows))
            QAccessible::deleteAccessibleInterface(id);
    }

    NodeTreeView *view() const { return static_cast<NodeTreeView *>(object()); }

    // The one interface of the row of `index`, made when first asked for.
    QAccessibleInterface *row(const QModelIndex &index);

    int childCount() const override
    {
        const QAbstractItemModel *model = view()->model();
        return model ? model->rowCount(view()->rootIndex()) : 0;
    }
    QAccessibleInterface *child(int index) const override
    {
        const QAbstractItemModel *model = view()->model();
        if (!model || index < 0 || index >= childCount())
            return nullptr;
        return const_cast<TreeAccessible *>(this)->row(model->index(index, 0, view()->rootIndex()));
    }
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint at = view()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = view()->indexAt(at);
        return index.isValid() ? const_cast<TreeAccessible *>(this)->row(index) : nullptr;
    }
    QAccessibleInterface *focusChild() const override
    {
        const QModelIndex current = view()->currentIndex();
        return current.isValid() ? const_cast<TreeAccessible *>(this)->row(current) : nullptr;
    }

private:
    QHash<QPersistentModelIndex, QAccessible::Id> m_rows;
};

class RowAccessible : public QAccessibleInterface
{
public:
    RowAccessible(TreeAccessible *tree, const QModelIndex &index) : m_view(tree->view()), m_tree(tree), m_index(index) {}

    bool isValid() const override { return m_view && m_index.isValid(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_tree->window(); }
    QAccessibleInterface *parent() const override
    {
        const QModelIndex up = m_index.parent();
        return up.isValid() && up != m_view->rootIndex() ? m_tree->row(up) : m_tree;
    }
    int childCount() const override
    {
        return isValid() && m_view->isExpanded(m_index) ? m_view->model()->rowCount(m_index) : 0;
    }
    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        return m_tree->row(m_view->model()->index(index, 0, m_index));
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *row = dynamic_cast<const RowAccessible *>(child);
        return row && row->m_index.parent() == QModelIndex(m_index) ? row->m_index.row() : -1;
    }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *focusChild() const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return QString();
        switch (t) {
        case QAccessible::Name: return m_index.data(Qt::DisplayRole).toString();
        case QAccessible::Description: return m_index.data(Qt::ToolTipRole).toString();
        default: return QString();
        }
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QRect r = m_view->visualRect(m_index);
        return r.isValid() ? QRect(m_view->viewport()->mapToGlobal(r.topLeft()), r.size()) : QRect();
    }
    QAccessible::Role role() const override { return QAccessible::TreeItem; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = m_view->selectionModel() && m_view->selectionModel()->isSelected(m_index);
        s.focused = m_view->hasFocus() && m_view->currentIndex() == QModelIndex(m_index);
        s.active = s.focused;
        s.invisible = !m_view->visualRect(m_index).isValid();
        s.offscreen = !m_view->viewport()->rect().intersects(m_view->visualRect(m_index));
        if (!(m_view->model()->flags(m_index) & Qt::ItemNeverHasChildren) && m_view->model()->hasChildren(m_index)) {
            s.expandable = true;
            s.expanded = m_view->isExpanded(m_index);
            s.collapsed = !s.expanded;
        }
        return s;
    }

    QModelIndex index() const { return m_index; }

private:
    QPointer<NodeTreeView> m_view;
    TreeAccessible *m_tree;
    QPersistentModelIndex m_index;
};

QAccessibleInterface *TreeAccessible::row(const QModelIndex &index)
{
    const auto found = m_rows.constFind(index);
    if (found != m_rows.cend()) {
        if (QAccessibleInterface *iface = QAccessible::accessibleInterface(*found))
            return iface;
    }
    auto *iface = new RowAccessible(this, index);
    m_rows.insert(index, QAccessible::registerAccessibleInterface(iface));
    return iface;
}

int TreeAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    const auto *row = dynamic_cast<const RowAccessible *>(child);
    return row && row->index().parent() == view()->rootIndex() ? row->index().row() : -1;
}

} // namespace

QAccessibleInterface *treeAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("NodeTreeView") && object && object->isWidgetType())
        return new TreeAccessible(static_cast<NodeTreeView *>(object));
    return nullptr;
}
