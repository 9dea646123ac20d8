#pragma once

#include <QModelIndex>
#include <QObject>
#include <QPersistentModelIndex>

class DocumentHost;
class NodeClipboard;
class NodeCreator;
class NodeEditor;
class NodeFinder;
class QMenu;
class QMouseEvent;
class QKeyEvent;
class NodeTreeView;
class QWidget;

// Moving about the tree and how it is shown: expanding or collapsing a
// whole subtree, the text-in-tree option, the tree's own keys and its mouse
// handling (right click selects and opens the node menu there; the node
// under the last press is kept for dragging).
class TreeNavigator : public QObject
{
    Q_OBJECT
public:
    // `nodeMenu` is shown as the tree's context menu.
    TreeNavigator(DocumentHost &host, NodeCreator &creator, NodeEditor &editor, QMenu *nodeMenu,
                  QObject *parent = nullptr);

    void mnuNodeExpand_Click();
    void mnuNodeCollapse_Click();
    // After the option's check mark changed: labels follow it, and the tree
    // is shown anew, collapsed, with nothing selected.
    void mnuViewText_Click(bool checked);

    // False when the user cancelled; then nothing was opened.
    bool ExpandAll(const QModelIndex &treeNode);
    void CollapseAll(const QModelIndex &treeNode);

    // The clipboard and find commands the tree's keys run.
    void setClipboardAndFinder(NodeClipboard *clipboard, NodeFinder *finder)
    {
        m_clipboard = clipboard;
        m_finder = finder;
    }

    // The item under the last mouse press in the tree that hit an item.
    QModelIndex mouseNode() const { return m_MouseNode; }

    // True when the key was one of the tree's own and was handled.
    bool tvw_KeyDown(QKeyEvent *event);
    void tvw_MouseDown(QMouseEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    DocumentHost &m_host;
    NodeCreator &m_creator;
    NodeEditor &m_editor;
    QMenu *m_nodeMenu;
    NodeTreeView *m_tvw;
    QWidget *m_viewport;
    QPersistentModelIndex m_MouseNode;
    NodeClipboard *m_clipboard = nullptr;
    NodeFinder *m_finder = nullptr;
};
