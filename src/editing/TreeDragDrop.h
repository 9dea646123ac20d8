#pragma once

#include "document/NodeTreeView.h"

#include <QObject>
#include <QPersistentModelIndex>

class DocumentHost;
class QMimeData;
class DocumentLifecycle;
class NodeClipboard;
class NodeEditor;
class TreeNavigator;

// Dragging nodes out of the tree and dropping text, nodes and files on it.
// A dragged item travels as its markup in plain text, so the same drop
// takes nodes from this window, another window or another editor process,
// and text from other programs. A move deletes the dragged node once a
// tree has inserted it and said so; a refused drop leaves it. Files dropped on a window without a document open
// there; on an element, the file's root element is inserted.
class TreeDragDrop : public QObject, public NodeTreeView::DragDrop
{
    Q_OBJECT
public:
    TreeDragDrop(DocumentHost &host, DocumentLifecycle &lifecycle, NodeClipboard &clipboard, NodeEditor &editor,
                 TreeNavigator &navigator, QObject *parent = nullptr);

    // The two ends of a drag out of the tree; startDrag runs the platform's
    // drag between them. The start takes the item under the last press;
    // false when there is none.
    bool tvw_OLEStartDrag();
    // Deletes the dragged node when a tree inserted it and moved it; when
    // the tree has yet to say so (another process), once it has.
    void tvw_OLECompleteDrag(Qt::DropAction effect);
    // What the started drag carries (owned by the caller): the markup, and
    // the format a tree asks for once it has inserted the node.
    QMimeData *dragData();
    // The item being dragged out of this window, or invalid.
    QModelIndex dragNode() const { return m_DragNode; }

    void startDrag() override;
    bool dragEnter(const QMimeData *data) override;
    void dragOver(QDragMoveEvent *event) override;
    void dragLeave() override;
    void drop(QDropEvent *event) override;

protected:
    // Drops elsewhere on the window: they open a file or load text only
    // while the window has no document.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Dropped
    {
        enum class Kind { None, Text, File } kind = Kind::None;
        QString text;
    };
    // The kind of what is dragged; its text too when `content` (a drop).
    static Dropped readDropped(const QMimeData *data, bool content = false);

    bool hasDocument() const;
    // The drop target: the item at `pos`, else the selected item.
    QModelIndex targetAt(const QPoint &pos) const;
    // Elements take nodes, and the document while it has no root element.
    bool takesNodes(const QModelIndex &target) const;
    // True when the target is the dragged node or inside it.
    bool insideDragged(const QModelIndex &target) const;
    // What the drop does, from the keys held and what the source allows;
    // IgnoreAction when it allows neither.
    static Qt::DropAction effectFor(const QDropEvent *event, const Dropped &dropped);
    // Load or open into a window without a document.
    bool dropOnEmptyWindow(QDropEvent *event, const Dropped &dropped);
    void endHover();
    // A tree inserted the node of drag number `drag`.
    void nodeTaken(quint64 drag);
    void deleteMoved(const QModelIndex &dragged);

    DocumentHost &m_host;
    DocumentLifecycle &m_lifecycle;
    NodeClipboard &m_clipboard;
    NodeEditor &m_editor;
    TreeNavigator &m_navigator;
    QPersistentModelIndex m_DragNode;
    // The running drag's number; whether a tree has inserted its node; a
    // moved node whose target has yet to say that it inserted it.
    quint64 m_drag = 0;
    bool m_taken = false;
    QPersistentModelIndex m_pendingMove;
    // The selection before the pointer came over the tree: the item under
    // the pointer is shown selected while dragging, and the selection goes
    // back when nothing is dropped.
    QPersistentModelIndex m_beforeHover;
    bool m_hovering = false;
};
