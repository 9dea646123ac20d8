#include "ValuePaneEditor.h"

#include "document/DocumentHost.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"
#include "document/ValuePane.h"
#include "xml/XmlDocument.h"

#include "document/NodeTreeView.h"

namespace {

const QString kSyntaxError = QStringLiteral("構文エラー");

} // namespace

ValuePaneEditor::ValuePaneEditor(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent)
    : QObject(parent), m_host(host), m_lifecycle(lifecycle)
{
    connect(m_host.txtEdit(), &ValuePane::valueEdited, this, &ValuePaneEditor::txtEdit_Change);
}

void ValuePaneEditor::txtEdit_Change()
{
    if (m_host.flags().m_PaneUpdating || !m_host.dom())
        return;
    const QModelIndex selected = m_host.selection().selectedItem();
    if (!selected.isValid())
        return;
    const QString text = m_host.txtEdit()->value();
    const XmlNode node = m_host.selection().GetSelectedDOMNode();
    const bool wasExpanded = m_host.tvw()->isExpanded(selected);
    switch (node.kind()) {
    case NodeKind::Text:
        applyText(text);
        break;
    case NodeKind::Comment:
    case NodeKind::CData:
        applyContent(text);
        break;
    case NodeKind::Attribute:
        applyAttribute(text);
        break;
    case NodeKind::Document:
        applyDocument(text, wasExpanded);
        break;
    case NodeKind::Element:
        applyElement(text, wasExpanded);
        break;
    case NodeKind::ProcessingInstruction:
    case NodeKind::Other:
        break;
    default:
        m_host.prompt().message(node.kindName() + QStringLiteral(" edit is not implemented yet"));
        break;
    }
}

void ValuePaneEditor::resetPaneToNode()
{
    const XmlNode node = m_host.selection().GetSelectedDOMNode();
    m_host.flags().m_PaneUpdating = true;
    m_host.txtEdit()->setValue(node.text());
    m_host.flags().m_PaneUpdating = false;
}

void ValuePaneEditor::applyText(const QString &text)
{
    // An emptied pane is not applied: the node keeps its text until the
    // user types again.
    if (text.isEmpty())
        return;
    QString error;
    if (!m_host.dom()->setText(m_host.selection().GetSelectedDOMNode(), text, &error)) {
        m_host.prompt().message(error);
        resetPaneToNode();
        return;
    }
    m_lifecycle.DocumentModified();
}

void ValuePaneEditor::applyContent(const QString &text)
{
    if (text.isEmpty())
        return;
    // A comment or CDATA section passes through states the document cannot
    // hold while it is typed ("well-" on the way to "well-done"): like
    // unfinished markup, it waits in the pane with the reason in the status
    // bar, and is applied once it is valid.
    QString error;
    if (!m_host.dom()->setText(m_host.selection().GetSelectedDOMNode(), text, &error)) {
        m_host.setStatusText(error);
        return;
    }
    m_host.setStatusText(QString());
    m_lifecycle.DocumentModified();
}

void ValuePaneEditor::applyAttribute(const QString &text)
{
    const QModelIndex selected = m_host.selection().selectedItem();
    const XmlNode attribute = m_host.selection().GetSelectedDOMNode();
    const XmlNode owner = m_host.model().nodeAt(selected.parent());
    QString error;
    if (!m_host.dom()->setAttribute(owner, attribute.nodeName(), text, &error)) {
        m_host.prompt().message(error);
        resetPaneToNode();
        return;
    }
    m_lifecycle.DocumentModified();
}

void ValuePaneEditor::applyDocument(const QString &text, bool wasExpanded)
{
    const std::unique_ptr<XmlDocument> parsed = XmlDocument::parse(text);
    if (!parsed) {
        m_host.setStatusText(kSyntaxError);
        return;
    }
    // The window keeps its document object: its content is replaced node by
    // node, so the history and the tree follow as for any other change.
    XmlDocument &dom = *m_host.dom();
    const XmlNode top = dom.documentNode();
    NodeTreeView *tvw = m_host.tvw();
    tvw->setUpdatesEnabled(false);
    m_host.selection().holdClicks(true);
    // From the last: the root goes before a document type whose entities
    // it uses, which could not go first. A node that will not go ends the
    // loop instead of asking again forever.
    while (const XmlNode child = top.lastChild())
        if (!dom.removeNode(child))
            break;
    for (XmlNode child = parsed->documentNode().firstChild(); child; child = child.nextSibling())
        dom.appendChild(top, dom.cloneNode(child));
    const QModelIndex item = m_host.model().documentIndex();
    m_host.selection().setSelectedItem(item);
    tvw->setExpanded(item, wasExpanded);
    m_host.selection().holdClicks(false);
    tvw->setUpdatesEnabled(true);
    m_lifecycle.DocumentModified();
    m_host.setStatusText(QString());
}

void ValuePaneEditor::applyElement(const QString &text, bool wasExpanded)
{
    const std::unique_ptr<XmlDocument> parsed = XmlDocument::parse(text);
    XmlNode replacement = parsed ? parsed->documentElement() : XmlNode();
    if (!replacement) {
        m_host.setStatusText(kSyntaxError);
        return;
    }
    XmlDocument &dom = *m_host.dom();
    QModelIndex selected = m_host.selection().selectedItem();
    const XmlNode old = m_host.model().nodeAt(selected);
    NodeTreeView *tvw = m_host.tvw();
    WindowFlags &flags = m_host.flags();

    flags.m_ApplyingText = true;
    tvw->setUpdatesEnabled(false);
    // The view moves its current item when the old one goes; that is no
    // click, and the pane keeps the text and caret as typed.
    m_host.selection().holdClicks(true);
    QModelIndex newItem;
    if (old != dom.documentElement()) {
        int relationship = TreeBuilder::Previous;
        newItem = m_host.treeBuilder().AddNode(selected, replacement, false, relationship);
        flags.m_ApplyingText = false;
        if (newItem.isValid())
            dom.removeNode(old);
    } else {
        // The new root is installed in the same step that removes the old
        // one, so the history holds the finished replacement.
        const XmlNode copy = dom.cloneNode(replacement);
        if (dom.replaceChild(dom.documentNode(), copy, old))
            newItem = m_host.model().indexForNode(copy);
        flags.m_ApplyingText = false;
    }
    if (newItem.isValid()) {
        const QPersistentModelIndex keep(newItem);
        m_host.selection().setSelectedItem(keep);
        tvw->setExpanded(keep, wasExpanded);
    }
    m_host.selection().holdClicks(false);
    tvw->setUpdatesEnabled(true);
    if (!newItem.isValid())
        return;
    m_lifecycle.DocumentModified();
    m_host.refreshPreview();
    m_host.setStatusText(QString());
}
