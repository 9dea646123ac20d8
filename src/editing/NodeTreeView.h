#pragma once

#include <QBasicTimer>
#include <QPersistentModelIndex>
#include <QTreeView>

#include <memory>

class QDragEnterEvent;
class QTreeViewPrivate;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QMimeData;

// The document tree's view. It keeps the view's own drag mechanics (the
// press-and-move threshold, scrolling at the edges, opening an item the
// pointer rests on) and hands the decisions to a handler: what a drag
// carries, where a drop may land and what it inserts.
class NodeTreeView : public QTreeView
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
    // Room for `open` more open items, each kept by a persistent index, and
    // `rows` more laid-out rows.
    void reserveOpen(qsizetype open, qsizetype rows);
    // Opens the shown item `index` and every item below it that can have
    // rows, laying out its rows in one pass. False, with nothing done, when
    // the item is not shown or a layout of everything is pending.
    bool expandSubtree(const QModelIndex &index);

protected:
    // Rows inserted or removed under an open item are put into the laid-out
    // rows in place. Qt lays out every shown row again instead, which on a
    // fully expanded document of millions of rows costs a second per change.
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;

    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void rowsGone(const QModelIndex &parent, int start, int end);
    void keepRows(QTreeViewPrivate *d);

    DragDrop *m_handler = nullptr;
    // The laid-out rows less the ones being removed, kept aside while Qt's
    // own handling of the removal runs; see rowsAboutToBeRemoved.
    struct KeptRows;
    std::unique_ptr<KeptRows> m_kept;
    QBasicTimer m_openTimer;
    QPersistentModelIndex m_restingOn;
};
