#include "TreeDragDrop.h"

#include "NodeClipboard.h"
#include "NodeEditor.h"
#include "TreeNavigator.h"

#include "base/StringTable.h"
#include "document/DocumentHost.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/TextFields.h"
#include "xml/XmlDocument.h"

#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPointer>
#include <QTimer>
#include "document/NodeTreeView.h"
#include <QUrl>

#include <functional>

namespace {

const QString kPlainText = QStringLiteral("text/plain");
// Asked for by a tree once it has inserted a moved node: only then does
// the source delete it. Reading the node itself says nothing yet, as the
// target may still refuse it.
const QString kInserted = QStringLiteral("application/x-ostrel-node-inserted");

// The dragged node's markup, made only when a target asks for it: a drag
// that ends nowhere never serialises a large subtree. It goes out as plain
// text and in the node format; a tree that has inserted it asks for the
// acknowledgement format, and only then does a move delete the source.
class NodeDragData : public QMimeData
{
public:
    NodeDragData(std::function<QString()> markup, std::function<void()> taken)
        : m_markup(std::move(markup)), m_taken(std::move(taken))
    {
    }

    QStringList formats() const override
    {
        return {nodeDragFormat(), kPlainText, kPlainText + QStringLiteral(";charset=utf-8"), kInserted};
    }
    bool hasFormat(const QString &mimeType) const override { return formats().contains(mimeType); }

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override
    {
        if (!hasFormat(mimeType))
            return {};
        if (mimeType == kInserted) {
            if (m_taken)
                std::exchange(m_taken, nullptr)();
            return QByteArray("1");
        }
        if (!m_made) {
            m_text = m_markup();
            m_made = true;
        }
        if (type.id() == QMetaType::QString)
            return m_text;
        return m_text.toUtf8();
    }

private:
    std::function<QString()> m_markup;
    mutable std::function<void()> m_taken;
    mutable QString m_text;
    mutable bool m_made = false;
};

// Tells the source of a moved node that it was inserted here.
void acknowledgeMove(const QMimeData *data, Qt::DropAction effect)
{
    if (effect == Qt::MoveAction && carriesNode(data))
        [[maybe_unused]] const QByteArray answer = data->data(kInserted);
}

} // namespace

TreeDragDrop::TreeDragDrop(DocumentHost &host, DocumentLifecycle &lifecycle, NodeClipboard &clipboard,
                           NodeEditor &editor, TreeNavigator &navigator, QObject *parent)
    : QObject(parent), m_host(host), m_lifecycle(lifecycle), m_clipboard(clipboard), m_editor(editor),
      m_navigator(navigator)
{
    if (auto *view = qobject_cast<NodeTreeView *>(host.tvw()))
        view->setDragDrop(this);
    QWidget *window = host.tvw()->window();
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

bool TreeDragDrop::tvw_OLEStartDrag()
{
    m_DragNode = m_navigator.mouseNode();
    ++m_drag;
    m_taken = false;
    m_pendingMove = QPersistentModelIndex();
    return m_DragNode.isValid() && m_host.selection().GetDOMNode(m_DragNode);
}

void TreeDragDrop::tvw_OLECompleteDrag(Qt::DropAction effect)
{
    const QPersistentModelIndex dragged = std::exchange(m_DragNode, QPersistentModelIndex());
    // A read-only document offers only copying; the check stays for a
    // target that moves all the same.
    if (effect != Qt::MoveAction || !dragged.isValid() || m_host.flags().m_ReadOnly)
        return;
    // A target that took the markup as text (a text field, another
    // program) has not taken the node. A tree of another process reads
    // and inserts the node only after the platform has ended the drag
    // here: the move is completed when it says it has.
    if (m_taken)
        deleteMoved(dragged);
    else
        m_pendingMove = dragged;
}

void TreeDragDrop::nodeTaken(quint64 drag)
{
    if (drag != m_drag)
        return;
    if (m_DragNode.isValid()) {
        m_taken = true;
    } else if (m_pendingMove.isValid()) {
        // Not while the markup is being handed out.
        QTimer::singleShot(0, this, [this] {
            if (!m_host.flags().m_ReadOnly)
                deleteMoved(std::exchange(m_pendingMove, QPersistentModelIndex()));
        });
    }
}

void TreeDragDrop::deleteMoved(const QModelIndex &dragged)
{
    if (!dragged.isValid() || !m_editor.DeleteNode(dragged))
        return;
    const QModelIndex current = m_host.tvw()->currentIndex();
    if (current.isValid())
        m_host.selection().ShowNode(current, true);
}

void TreeDragDrop::startDrag()
{
    if (!tvw_OLEStartDrag())
        return;
    NodeTreeView *tvw = m_host.tvw();
    const XmlNode node = m_host.selection().GetDOMNode(m_DragNode);
    const QPersistentModelIndex dragged = m_DragNode;
    auto *drag = new QDrag(tvw);
    drag->setMimeData(dragData());
    const QRect label = tvw->visualRect(dragged).intersected(tvw->viewport()->rect());
    if (!label.isEmpty()) {
        drag->setPixmap(tvw->viewport()->grab(label));
        drag->setHotSpot(tvw->viewport()->mapFromGlobal(QCursor::pos()) - label.topLeft());
    }
    // Moving out of a read-only document would delete there; the document
    // node itself cannot be deleted.
    const bool movable = !m_host.flags().m_ReadOnly && !node.isDocument();
    const Qt::DropActions allowed = movable ? Qt::CopyAction | Qt::MoveAction : Qt::CopyAction;
    const QPointer<TreeDragDrop> alive(this);
    const Qt::DropAction effect = drag->exec(allowed, movable ? Qt::MoveAction : Qt::CopyAction);
    // The window may have been closed while the drag ran.
    if (alive)
        tvw_OLECompleteDrag(effect);
}

QMimeData *TreeDragDrop::dragData()
{
    const QPersistentModelIndex dragged = m_DragNode;
    return new NodeDragData(
        [this, dragged] {
            const XmlNode source = m_host.selection().GetDOMNode(dragged);
            return source && m_host.dom() ? m_host.dom()->portableXml(source) : QString();
        },
        [alive = QPointer<TreeDragDrop>(this), drag = m_drag] {
            if (alive)
                alive->nodeTaken(drag);
        });
}

TreeDragDrop::Dropped TreeDragDrop::readDropped(const QMimeData *data, bool content)
{
    if (!data)
        return {};
    // A node of a tree: what it carries is read only when it is dropped,
    // so a drag that passes over makes no markup.
    if (carriesNode(data))
        return {Dropped::Kind::Text, content ? QString::fromUtf8(data->data(nodeDragFormat())) : QString()};
    // Files come as a list of URLs, often with their names as text too:
    // the list wins. Only local files are read; another URL is text.
    if (data->hasUrls()) {
        const QList<QUrl> urls = data->urls();
        if (!urls.isEmpty())
            return urls.first().isLocalFile() ? Dropped{Dropped::Kind::File, urls.first().toLocalFile()}
                                              : Dropped{Dropped::Kind::Text, urls.first().toString()};
    }
    if (data->hasText())
        return {Dropped::Kind::Text, content ? data->text() : QString()};
    return {};
}

bool TreeDragDrop::hasDocument() const
{
    // A document is shown (with or without a root element) once it has its
    // item; a fresh window holds an empty one that shows nothing.
    return m_host.dom() && m_host.model().documentIndex().isValid();
}

QModelIndex TreeDragDrop::targetAt(const QPoint &pos) const
{
    const QModelIndex item = m_host.tvw()->indexAt(pos);
    return item.isValid() ? item : m_host.selection().selectedItem();
}

bool TreeDragDrop::takesNodes(const QModelIndex &target) const
{
    // The document takes an element only while it has no root, which the
    // drop then becomes, as a paste would make it.
    const XmlNode node = m_host.selection().GetDOMNode(target);
    return node.isElement() || (node.isDocument() && !m_host.dom()->documentElement());
}

bool TreeDragDrop::insideDragged(const QModelIndex &target) const
{
    if (!m_DragNode.isValid())
        return false;
    // By node identity: a sibling whose label merely begins with the
    // dragged item's label is no descendant.
    const XmlNode dragged = m_host.selection().GetDOMNode(m_DragNode);
    for (XmlNode node = m_host.selection().GetDOMNode(target); node; node = node.parentNode()) {
        if (node == dragged)
            return true;
    }
    return false;
}

Qt::DropAction TreeDragDrop::effectFor(const QDropEvent *event, const Dropped &dropped)
{
    const Qt::DropActions possible = event->possibleActions();
    // A dropped file is read, never taken away from where it is.
    Qt::DropAction wanted = Qt::MoveAction;
    if (dropped.kind == Dropped::Kind::File || (event->modifiers() & Qt::ControlModifier))
        wanted = Qt::CopyAction;
    if (possible & wanted)
        return wanted;
    if (wanted == Qt::MoveAction && (possible & Qt::CopyAction))
        return Qt::CopyAction;
    return Qt::IgnoreAction;
}

bool TreeDragDrop::dragEnter(const QMimeData *data)
{
    if (readDropped(data).kind == Dropped::Kind::None)
        return false;
    if (!m_hovering) {
        m_hovering = true;
        m_beforeHover = m_host.selection().selectedItem();
    }
    return true;
}

void TreeDragDrop::dragOver(QDragMoveEvent *event)
{
    const Dropped dropped = readDropped(event->mimeData());
    Qt::DropAction effect = effectFor(event, dropped);
    if (!hasDocument()) {
        // Anything loads or opens into an empty window.
    } else if (m_host.flags().m_ReadOnly) {
        effect = Qt::IgnoreAction;
    } else {
        const QPoint pos = event->position().toPoint();
        const QModelIndex under = m_host.tvw()->indexAt(pos);
        if (under.isValid())
            m_host.selection().setSelectedItem(under);
        const QModelIndex target = targetAt(pos);
        if (!takesNodes(target) || insideDragged(target))
            effect = Qt::IgnoreAction;
    }
    if (effect == Qt::IgnoreAction || dropped.kind == Dropped::Kind::None) {
        event->ignore();
        return;
    }
    event->setDropAction(effect);
    event->accept();
}

void TreeDragDrop::dragLeave()
{
    endHover();
}

void TreeDragDrop::endHover()
{
    if (!m_hovering)
        return;
    m_hovering = false;
    Selection &selection = m_host.selection();
    if (m_beforeHover.isValid())
        selection.setSelectedItem(m_beforeHover);
    else if (QItemSelectionModel *model = m_host.tvw()->selectionModel())
        model->clearSelection();
    m_beforeHover = QPersistentModelIndex();
}

bool TreeDragDrop::dropOnEmptyWindow(QDropEvent *event, const Dropped &dropped)
{
    if (dropped.kind == Dropped::Kind::File)
        m_lifecycle.openRecentFile(dropped.text);
    else if (dropped.kind == Dropped::Kind::Text)
        m_lifecycle.LoadXML(dropped.text);
    if (!hasDocument())
        return false;
    event->setDropAction(effectFor(event, dropped));
    event->accept();
    acknowledgeMove(event->mimeData(), event->dropAction());
    return true;
}

void TreeDragDrop::drop(QDropEvent *event)
{
    const Dropped dropped = readDropped(event->mimeData(), true);
    const Qt::DropAction effect = effectFor(event, dropped);
    event->ignore();
    if (effect == Qt::IgnoreAction || dropped.kind == Dropped::Kind::None) {
        endHover();
        return;
    }
    if (!hasDocument()) {
        m_hovering = false;
        dropOnEmptyWindow(event, dropped);
        return;
    }
    const QModelIndex target = targetAt(event->position().toPoint());
    if (m_host.flags().m_ReadOnly || !target.isValid() || insideDragged(target)) {
        endHover();
        return;
    }
    QString text = dropped.text;
    if (dropped.kind == Dropped::Kind::File) {
        // A file that does not load is said to be so; inserting an empty
        // text in its place would hide the failure.
        XmlDocument file;
        if (!file.load(dropped.text)) {
            endHover();
            m_host.prompt().message(GetResString(8) + QLatin1Char('\n') + file.parseError().reason,
                                    Prompt::Icon::Exclamation);
            return;
        }
        text = file.xml(file.documentNode());
    }
    const NodeClipboard::Inserted inserted = m_clipboard.insertText(target, text);
    if (!inserted.changed) {
        endHover();
        return;
    }
    // The inserted node is selected now; that stays.
    m_hovering = false;
    m_beforeHover = QPersistentModelIndex();
    event->setDropAction(effect);
    event->accept();
    acknowledgeMove(event->mimeData(), effect);
}

bool TreeDragDrop::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *move = static_cast<QDragMoveEvent *>(event);
        const Dropped dropped = readDropped(move->mimeData());
        const Qt::DropAction effect = effectFor(move, dropped);
        if (hasDocument() || dropped.kind == Dropped::Kind::None || effect == Qt::IgnoreAction) {
            move->ignore();
        } else {
            move->setDropAction(effect);
            move->accept();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *dropEvent = static_cast<QDropEvent *>(event);
        const Dropped dropped = readDropped(dropEvent->mimeData(), true);
        dropEvent->ignore();
        if (!hasDocument() && effectFor(dropEvent, dropped) != Qt::IgnoreAction)
            dropOnEmptyWindow(dropEvent, dropped);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
