#include "NodeFinder.h"

#include "document/NodeTreeView.h"
#include "Wildcard.h"

#include "document/DocumentHost.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"
#include "xml/XmlDocument.h"

#include <QComboBox>
#include <QSet>

namespace {

bool hasRows(const XmlNode &node)
{
    return node.isElement() || node.isDocument();
}

XmlNode firstRow(const XmlNode &node)
{
    if (!hasRows(node))
        return XmlNode();
    const XmlNode attribute = node.firstAttribute();
    return attribute ? attribute : node.firstChild();
}

XmlNode lastRow(const XmlNode &node)
{
    if (!hasRows(node))
        return XmlNode();
    if (const XmlNode child = node.lastChild())
        return child;
    XmlNode last;
    for (XmlNode a = node.firstAttribute(); a; a = a.nextSibling())
        last = a;
    return last;
}

XmlNode parentRow(const XmlNode &node)
{
    return node.isAttribute() ? node.ownerElement() : node.parentNode();
}

// The next row under the same parent: after the last attribute come the
// children.
XmlNode nextRow(const XmlNode &node)
{
    if (const XmlNode next = node.nextSibling())
        return next;
    return node.isAttribute() ? node.ownerElement().firstChild() : XmlNode();
}

XmlNode previousRow(const XmlNode &node)
{
    if (const XmlNode previous = node.previousSibling())
        return previous;
    if (node.isAttribute())
        return XmlNode();
    const XmlNode parent = node.parentNode();
    if (!parent.isElement())
        return XmlNode();
    XmlNode last;
    for (XmlNode a = parent.firstAttribute(); a; a = a.nextSibling())
        last = a;
    return last;
}

} // namespace

NodeFinder::NodeFinder(DocumentHost &host, QComboBox &cboPath, QObject *parent)
    : QObject(parent), m_host(host), m_cboPath(cboPath)
{
}

XmlNode NodeFinder::nextInTree(const XmlNode &node)
{
    if (const XmlNode first = firstRow(node))
        return first;
    return nextOutside(node);
}

XmlNode NodeFinder::nextOutside(const XmlNode &node)
{
    for (XmlNode n = node; n && !n.isDocument(); n = parentRow(n))
        if (const XmlNode next = nextRow(n))
            return next;
    return XmlNode();
}

XmlNode NodeFinder::previousInTree(const XmlNode &node)
{
    if (!node || node.isDocument())
        return XmlNode();
    XmlNode previous = previousRow(node);
    if (!previous)
        return parentRow(node);
    while (const XmlNode last = lastRow(previous))
        previous = last;
    return previous;
}

void NodeFinder::mnuEditFind_Click()
{
    if (!m_host.dom())
        return;
    QString text;
    if (!m_host.prompt().inputBox(QStringLiteral("検索する文字列を入力してください。"), &text))
        text.clear();
    m_FindText = text;
    if (!m_FindText.isEmpty())
        mnuEditFindNext_Click();
}

void NodeFinder::mnuEditFindNext_Click()
{
    if (!m_host.dom())
        return;
    QModelIndex start = m_host.selection().selectedItem();
    if (!start.isValid())
        start = m_host.model().documentIndex();
    if (!start.isValid())
        return;
    if (m_FindText.isEmpty())
        mnuEditFind_Click();
    else
        FindForward(start, m_FindText);
}

void NodeFinder::findPrevious()
{
    if (!m_FindText.isEmpty() && m_host.dom())
        FindBackward(m_host.selection().selectedItem(), m_FindText);
}

bool NodeFinder::select(const XmlNode &node)
{
    const QPersistentModelIndex item(m_host.model().indexForNode(node));
    if (!item.isValid())
        return false;
    m_host.setStatusText(QString());
    m_host.treeBuilder().EnsureVisible(item);
    m_host.selection().ShowNode(item, true);
    return true;
}

bool NodeFinder::FindForward(const QModelIndex &start, const QString &pattern)
{
    const DocumentTreeModel &model = m_host.model();
    const bool showText = model.showText();
    const WildcardPattern wildcard(pattern);
    for (XmlNode n = nextInTree(model.nodeAt(start)); n; n = nextInTree(n))
        if (wildcard.matches(nodeLabel(n, showText)) && select(n))
            return true;
    m_host.setStatusText(QStringLiteral("終わりまで検索しました。"));
    return false;
}

bool NodeFinder::FindBackward(const QModelIndex &start, const QString &pattern)
{
    if (!start.isValid())
        return false;
    const DocumentTreeModel &model = m_host.model();
    const bool showText = model.showText();
    const WildcardPattern wildcard(pattern);
    for (XmlNode n = previousInTree(model.nodeAt(start)); n; n = previousInTree(n))
        if (wildcard.matches(nodeLabel(n, showText)) && select(n))
            return true;
    m_host.setStatusText(QStringLiteral("先頭まで検索しました。"));
    return false;
}

void NodeFinder::RunPathQuery()
{
    if (!m_host.dom())
        return;
    Selection &selection = m_host.selection();
    const QModelIndex selected = selection.selectedItem();
    XmlNode context = selection.GetDOMNode(selected);
    // With nothing selected a query still runs, from the document: typing a
    // path into a fresh window and pressing Enter should not do nothing.
    if (!context)
        context = m_host.dom()->documentNode();
    else if (!hasRows(context))
        context = selection.GetDOMNode(selected.parent());
    // Selecting the first result writes its path into the box: the
    // expression is taken now, to be remembered as typed.
    const QString expression = m_cboPath.currentText();
    QList<XmlNode> results;
    QString error;
    if (!m_host.dom()->selectNodes(expression, context, &results, &error)) {
        m_host.setStatusText(error);
        return;
    }
    if (results.isEmpty()) {
        m_host.setStatusText(QStringLiteral("見つかりませんでした"));
        return;
    }

    DocumentTreeModel &model = m_host.model();
    NodeTreeView *tvw = m_host.tvw();
    tvw->setUpdatesEnabled(false);
    // One layout of the rows once all marks are set: a change of a row's
    // font otherwise has the view measure the row again, one at a time.
    tvw->deferLayout();
    QPersistentModelIndex first;
    QSet<QPersistentModelIndex> marked;
    marked.reserve(results.size());
    for (const XmlNode &node : std::as_const(results)) {
        const QModelIndex item = model.indexForNode(node);
        if (!item.isValid())
            continue; // a node the tree does not show, such as a namespace
        model.setBold(item, true);
        marked.insert(item);
        for (QModelIndex parent = item.parent(); parent.isValid(); parent = parent.parent())
            if (!tvw->isExpanded(parent))
                tvw->expand(parent);
        if (!first.isValid())
            first = item;
    }
    for (const QPersistentModelIndex &old : std::as_const(m_marked))
        if (!marked.contains(old))
            model.setBold(old, false);
    m_marked = QList<QPersistentModelIndex>(marked.cbegin(), marked.cend());
    if (first.isValid()) {
        selection.ShowNode(first, true);
        tvw->scrollTo(first);
    }
    tvw->setUpdatesEnabled(true);
    tvw->setFocus();
    m_host.setStatusText(QString::number(results.size()) + QStringLiteral("件検索されました。"));

    if (m_cboPath.findText(expression, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        const QString shown = m_cboPath.currentText();
        m_cboPath.insertItem(0, expression);
        m_cboPath.setEditText(shown);
    }
}
