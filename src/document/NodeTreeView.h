#pragma once

#include <QAbstractItemView>
#include <QBasicTimer>
#include <QPersistentModelIndex>
#include <QSet>

#include <functional>
#include <vector>

class DocumentTreeModel;
class QDragEnterEvent;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QMimeData;

// The document tree's view: one column of rows, each indented by its depth,
// with branch marks to open and close items.
//
// It keeps a flat list of the rows shown, in document order. Opening or
// closing an item inserts or removes one run of rows; rows coming or going
// in the model touch only their own run and their later siblings' row
// numbers. Rows are found by a binary search over document order, so a
// lookup costs the depth times the logarithm of the rows shown, and the view
// keeps no persistent index per open item: a change in the model never walks
// them all.
//
// Drags keep the view's own mechanics (the press-and-move threshold,
// scrolling at the edges, opening an item the pointer rests on) and hand the
// decisions to a handler: what a drag carries, where a drop may land and
// what it inserts.
class NodeTreeView : public QAbstractItemView
{
    Q_OBJECT
public:
    class DragDrop
    {
    public:
        virtual ~DragDrop() = default;
        virtual void startDrag() = 0;
        // Whether the data may carry a node at all; moves follow only then.
        virtual bool dragEnter(const QMimeData *data) = 0;
        // Accepts the event with an action, or ignores it.
        virtual void dragOver(QDragMoveEvent *event) = 0;
        virtual void dragLeave() = 0;
        virtual void drop(QDropEvent *event) = 0;
    };

    explicit NodeTreeView(QWidget *parent = nullptr);
    ~NodeTreeView() override;

    // How long the pointer rests on a collapsed element during a drag
    // before it opens.
    static constexpr int kOpenDelayMs = 800;

    void setDragDrop(DragDrop *handler) { m_handler = handler; }

    void setModel(QAbstractItemModel *model) override;

    bool isExpanded(const QModelIndex &index) const;
    void setExpanded(const QModelIndex &index, bool expanded);
    int indentation() const { return m_indent; }
    void setIndentation(int pixels);
    // The row height, the same for every row.
    int rowHeight() const;

    // The shown row after or before `index`; invalid at either end.
    QModelIndex indexBelow(const QModelIndex &index) const;
    QModelIndex indexAbove(const QModelIndex &index) const;

    // The rows shown, in order: how many, and each one's item and depth
    // (0 for the top items).
    int shownCount() const;
    QModelIndex shownIndex(int row) const;
    int shownDepth(int row) const;

    // The open items at and below `index`, shown or not, by the internal
    // pointers of their indexes.
    std::vector<const void *> openUnder(const QModelIndex &index) const;

    // Opening and closing items then only records them, and the rows are
    // laid out once when next needed: for changes of many items at once.
    void deferLayout();

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;
    void reset() override;
    void doItemsLayout() override;
    int sizeHintForColumn(int column) const override;

public slots:
    void expand(const QModelIndex &index);
    void collapse(const QModelIndex &index);
    // Opens every item with rows below `index`, and it, making their rows
    // in one pass. `progress` hears the rows made so far now and then and
    // may stop it, and then nothing opens; `expected` is how many rows are
    // likely, so the list grows once.
    bool expandRecursively(const QModelIndex &index, const std::function<bool(int)> &progress = {}, int expected = 0);
    // Closes `index` and every item below it; told once, for `index`.
    void collapseRecursively(const QModelIndex &index);
    void expandAll();
    void collapseAll();

signals:
    void expanded(const QModelIndex &index);
    void collapsed(const QModelIndex &index);

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override;

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    // A few words a row: the model's item, its depth and its mark.
    struct Row
    {
        const void *item = nullptr;
        int depth = 0;
        bool hasChildren = false;
    };
    QModelIndex rowIndex(const Row &row) const;

    void rowsRemoved(const QModelIndex &parent, int start, int end);
    void layOutNow() const;
    // Where `index` is shown, or -1.
    int rowOf(const QModelIndex &index) const;
    // Past the last row of the item shown at `row` and its open rows.
    int runEnd(int row) const;
    // `count` rows of `parent`'s children from `first` (all when negative),
    // each followed by its own when open.
    void appendRows(std::vector<Row> &out, const QModelIndex &parent, int first, int count, int depth) const;
    bool canHaveRows(const QModelIndex &index) const;
    // The open items at and below the rows of `parent` from `first` to `last`.
    void openBelow(const QModelIndex &parent, int first, int last, std::vector<const void *> &out) const;
    int topRow() const;
    int rowsPerPage() const;
    int rowAtY(int y) const;
    int contentWidth() const;
    int measureWidth() const;
    QModelIndex pressedRowToggles(const QPoint &pos) const;
    void toggle(const QModelIndex &index);
    void changed();

    DragDrop *m_handler = nullptr;
    DocumentTreeModel *m_items = nullptr;
    int m_indent = 20;
    mutable int m_rowHeight = 0;
    mutable std::vector<Row> m_rows;
    mutable bool m_pending = false;
    mutable int m_hint = 0;
    // Open items by their model item, whether shown or under a closed one.
    QSet<const void *> m_open;
    // Open items being removed, forgotten once they are gone.
    std::vector<const void *> m_leaving;
    mutable int m_width = -1;
    QPersistentModelIndex m_pressed;
    QBasicTimer m_openTimer;
    QBasicTimer m_geometryTimer;
    QPersistentModelIndex m_restingOn;
};
