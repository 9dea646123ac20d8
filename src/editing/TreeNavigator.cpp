#include "TreeNavigator.h"

#include "NodeClipboard.h"
#include "NodeCreator.h"
#include "NodeEditor.h"
#include "NodeFinder.h"

#include "document/DocumentHost.h"
#include "document/NodeTreeView.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <vector>

namespace {

// The rows under `top` and all its descendants: every element's attributes
// and children.
int countRows(const XmlNode &top)
{
    int count = 0;
    std::vector<XmlNode> pending{top};
    while (!pending.empty()) {
        const XmlNode node = pending.back();
        pending.pop_back();
        for (XmlNode a = node.firstAttribute(); a; a = a.nextSibling())
            ++count;
        for (XmlNode c = node.firstChild(); c; c = c.nextSibling()) {
            ++count;
            if (c.isElement())
                pending.push_back(c);
        }
    }
    return count;
}

} // namespace

TreeNavigator::TreeNavigator(DocumentHost &host, NodeCreator &creator, NodeEditor &editor, QMenu *nodeMenu,
                             QObject *parent)
    : QObject(parent), m_host(host), m_creator(creator), m_editor(editor), m_nodeMenu(nodeMenu),
      m_tvw(host.tvw()), m_viewport(m_tvw->viewport())
{
    m_tvw->installEventFilter(this);
    m_viewport->installEventFilter(this);
    // The right button is handled at the press, as the node menu.
    m_tvw->setContextMenuPolicy(Qt::PreventContextMenu);
}

void TreeNavigator::mnuNodeExpand_Click()
{
    const QModelIndex selected = m_host.selection().selectedItem();
    if (!selected.isValid())
        return;
    NodeTreeView *tvw = m_host.tvw();
    tvw->setUpdatesEnabled(false);
    ExpandAll(selected);
    tvw->setUpdatesEnabled(true);
    tvw->setFocus();
}

void TreeNavigator::mnuNodeCollapse_Click()
{
    const QModelIndex selected = m_host.selection().selectedItem();
    if (!selected.isValid())
        return;
    NodeTreeView *tvw = m_host.tvw();
    tvw->setUpdatesEnabled(false);
    CollapseAll(selected);
    tvw->setUpdatesEnabled(true);
    tvw->setFocus();
}

bool TreeNavigator::ExpandAll(const QModelIndex &treeNode)
{
    NodeTreeView *tvw = m_host.tvw();
    const DocumentTreeModel &model = m_host.model();
    // Opening a large subtree takes a while: it shows progress and can be
    // cancelled, and then nothing is opened.
    const int rowCount = countRows(model.nodeAt(treeNode));
    const std::unique_ptr<Prompt::Progress> progress =
        m_host.prompt().progress(QStringLiteral("ツリー項目を展開しています..."), rowCount);
    if (progress && !progress->advance(0))
        return false;
    const auto advance = [&progress](int made) { return !progress || progress->advance(made); };
    return tvw->expandRecursively(treeNode, advance, rowCount);
}

void TreeNavigator::CollapseAll(const QModelIndex &treeNode)
{
    m_host.tvw()->collapseRecursively(treeNode);
}

void TreeNavigator::mnuViewText_Click(bool checked)
{
    if (!m_host.dom())
        return;
    m_host.model().setShowText(checked);
    m_host.treeBuilder().Rebuild(m_host.dom(), true);
}

bool TreeNavigator::tvw_KeyDown(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    const bool ctrlAlt = mods == (Qt::ControlModifier | Qt::AltModifier);
    switch (event->key()) {
    case Qt::Key_Delete:
        m_editor.mnuEditDelete_Click();
        return true;
    case Qt::Key_A:
        if (!ctrl)
            return false;
        m_creator.add(NodeCreator::Kind::Attribute);
        return true;
    case Qt::Key_D:
        if (!ctrl)
            return false;
        m_editor.mnuEditDelete_Click();
        return true;
    // Ctrl+E, Ctrl+T, Ctrl+K and F2 are the menu items' shortcuts; they
    // reach the tree only while their item is disabled, and the commands
    // check for themselves.
    case Qt::Key_E:
        if (ctrlAlt)
            m_creator.insert(NodeCreator::Kind::Element);
        else if (ctrl)
            m_creator.add(NodeCreator::Kind::Element);
        return ctrl || ctrlAlt;
    case Qt::Key_T:
        if (ctrlAlt)
            m_creator.insert(NodeCreator::Kind::Text);
        else if (ctrl)
            m_creator.add(NodeCreator::Kind::Text);
        return ctrl || ctrlAlt;
    case Qt::Key_K:
        if (ctrlAlt)
            m_creator.insert(NodeCreator::Kind::Comment);
        else if (ctrl)
            m_creator.add(NodeCreator::Kind::Comment);
        return ctrl || ctrlAlt;
    case Qt::Key_C:
    case Qt::Key_X:
    case Qt::Key_V:
        if (!ctrl || !m_clipboard)
            return false;
        if (event->key() == Qt::Key_C)
            m_clipboard->mnuEditCopy_Click();
        else if (event->key() == Qt::Key_X)
            m_clipboard->mnuEditCut_Click();
        else
            m_clipboard->mnuEditPaste_Click();
        return true;
    case Qt::Key_F3:
        // F3 alone is the menu item's shortcut.
        if (mods != Qt::ShiftModifier || !m_finder)
            return false;
        m_finder->findPrevious();
        return true;
    case Qt::Key_F2:
        if (mods != Qt::NoModifier)
            return false;
        m_editor.mnuEditRename_Click();
        return true;
    default:
        return false;
    }
}

void TreeNavigator::tvw_MouseDown(QMouseEvent *event)
{
    const QModelIndex node = m_host.tvw()->indexAt(event->position().toPoint());
    if (!node.isValid())
        return;
    m_MouseNode = node;
    if (event->button() != Qt::RightButton)
        return;
    m_host.selection().ShowNode(node, true);
    if (m_nodeMenu)
        m_nodeMenu->popup(event->globalPosition().toPoint());
}

bool TreeNavigator::eventFilter(QObject *watched, QEvent *event)
{
    // Only the two events below reach the window: others also come while
    // the window is being taken down.
    if (watched == m_tvw && event->type() == QEvent::KeyPress)
        return tvw_KeyDown(static_cast<QKeyEvent *>(event));
    if (watched == m_viewport && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        tvw_MouseDown(mouse);
        // A right press is the context menu's, not a selection gesture.
        return mouse->button() == Qt::RightButton;
    }
    return QObject::eventFilter(watched, event);
}
