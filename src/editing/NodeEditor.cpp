#include "NodeEditor.h"

#include "base/StringTable.h"
#include "document/DocumentHost.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "xml/XmlDocument.h"

#include "document/NodeTreeView.h"

NodeEditor::NodeEditor(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent)
    : QObject(parent), m_host(host), m_lifecycle(lifecycle)
{
}

void NodeEditor::mnuEditDelete_Click()
{
    if (m_host.flags().m_ReadOnly || !m_host.dom())
        return;
    const QModelIndex selected = m_host.selection().selectedItem();
    const XmlNode node = m_host.selection().GetDOMNode(selected);
    if (!node)
        return;
    if (node.isDocument()) {
        m_host.prompt().message(GetResString(5), Prompt::Icon::Exclamation);
        return;
    }
    if (m_host.prompt().message(GetResString(6), Prompt::Icon::Question, Prompt::Buttons::YesNo, true)
        != Prompt::Answer::Yes)
        return;
    if (!DeleteNode(selected))
        return;
    // The view has chosen the item that is current now.
    const QModelIndex current = m_host.tvw()->currentIndex();
    if (!current.isValid())
        return;
    m_host.selection().ShowNode(current, true);
    // Attributes and text leave the path box as it is, here the deleted
    // node's path: it shows their element's.
    QModelIndex element = current;
    while (element.parent().isValid() && !m_host.selection().GetDOMNode(element).isElement())
        element = element.parent();
    m_host.selection().showPath(element);
}

bool NodeEditor::DeleteNode(const QModelIndex &treeNode)
{
    const XmlNode node = m_host.selection().GetDOMNode(treeNode);
    if (!node || node.isDocument())
        return false;
    switch (node.kind()) {
    case NodeKind::Element:
    case NodeKind::Attribute:
    case NodeKind::Comment:
    case NodeKind::Text:
    case NodeKind::ProcessingInstruction:
    case NodeKind::CData:
    case NodeKind::DocumentType:
        break;
    default:
        m_host.prompt().message(node.kindName() + QStringLiteral(" cannot delete"));
        return false;
    }
    QString error;
    // The view moves its current item off the removed one; that is no click.
    m_host.selection().holdClicks(true);
    const bool removed = m_host.dom()->removeNode(node, &error);
    m_host.selection().holdClicks(false);
    if (!removed)
        return refuse(error);
    m_lifecycle.DocumentModified();
    m_host.refreshPreview();
    return true;
}

void NodeEditor::mnuNodeMoveUp_Click()
{
    move(true);
}

void NodeEditor::mnuNodeMoveDown_Click()
{
    move(false);
}

void NodeEditor::move(bool up)
{
    if (m_host.flags().m_ReadOnly || !m_host.dom())
        return;
    const XmlNode node = m_host.selection().GetSelectedDOMNode();
    if (!node || node.isAttribute())
        return;
    const XmlNode parent = node.parentNode();
    if (!parent || parent.isDocument())
        return;
    XmlNode reference;
    if (up) {
        reference = node.previousSibling();
        if (!reference)
            return;
    } else {
        const XmlNode next = node.nextSibling();
        if (!next)
            return;
        reference = next.nextSibling(); // none: it becomes the last child
    }
    QString error;
    // Taken out and put back: the moved subtree gets new, collapsed items.
    m_host.selection().holdClicks(true);
    const bool moved = m_host.dom()->insertBefore(parent, node, reference, &error);
    m_host.selection().holdClicks(false);
    if (!moved) {
        refuse(error);
        return;
    }
    m_host.selection().ShowNode(m_host.model().indexForNode(node), true);
    m_lifecycle.DocumentModified();
    m_host.refreshPreview();
}

void NodeEditor::mnuEditRename_Click()
{
    const QModelIndex selected = m_host.selection().selectedItem();
    if (selected.isValid())
        m_host.tvw()->edit(selected);
}

bool NodeEditor::tvw_BeforeLabelEdit(const QModelIndex &item) const
{
    if (m_host.flags().m_ReadOnly)
        return false;
    const XmlNode node = m_host.selection().GetDOMNode(item);
    switch (node.kind()) {
    case NodeKind::Element:
    case NodeKind::Attribute:
        return !m_host.isOptionChecked(QStringLiteral("mnuViewLock"));
    case NodeKind::Text:
    case NodeKind::Comment:
    case NodeKind::CData:
        // Only a label that shows the content can be edited into content.
        return m_host.model().showText();
    case NodeKind::Document:
    case NodeKind::DocumentType:
        return false;
    default:
        return bool(node);
    }
}

QString NodeEditor::labelEditText(const QModelIndex &item) const
{
    const XmlNode node = m_host.selection().GetDOMNode(item);
    return node.isAttribute() ? node.nodeName() : m_host.model().labelAt(item);
}

bool NodeEditor::tvw_AfterLabelEdit(const QModelIndex &item, const QString &newString)
{
    if (newString.isEmpty() || m_host.flags().m_ReadOnly)
        return false;
    const XmlNode node = m_host.selection().GetDOMNode(item);
    if (!node)
        return false;
    switch (node.kind()) {
    case NodeKind::Element:
        return renameElement(item, newString);
    case NodeKind::Attribute:
        return renameAttribute(item, newString);
    case NodeKind::Text:
    case NodeKind::Comment:
    case NodeKind::CData:
        return setContent(item, newString);
    default:
        m_host.prompt().message(node.kindName() + QStringLiteral(" labeledit is not implemented yet"));
        return false;
    }
}

bool NodeEditor::renameElement(const QModelIndex &item, const QString &newString)
{
    // Renamed in place: the subtree, its items and their expanded state stay.
    QString error;
    const XmlNode node = m_host.selection().GetDOMNode(item);
    if (!declareFor(node, newString, &error) || !m_host.dom()->rename(node, newString, &error))
        return refuse(error);
    // The path box and the pane show the new name at once: markup left with
    // the old name would rename the element back at the next keystroke.
    if (item == m_host.selection().selectedItem())
        m_host.selection().ShowNode(item, false);
    // A step even when the name stayed the same.
    m_lifecycle.DocumentModified();
    m_host.refreshPreview();
    return true;
}

bool NodeEditor::renameAttribute(const QModelIndex &item, const QString &newString)
{
    const XmlNode attribute = m_host.selection().GetDOMNode(item);
    if (newString == attribute.nodeName())
        return true;
    if (attribute.ownerElement().attributeNode(newString))
        return refuse(QStringLiteral("Already Exists. Cannot change"));
    // Renamed in place, so it keeps its position among the attributes.
    QString error;
    const bool selected = item == m_host.selection().selectedItem();
    if (!declareFor(attribute, newString, &error) || !m_host.dom()->rename(attribute, newString, &error))
        return refuse(error);
    if (selected)
        m_host.selection().ShowNode(m_host.model().indexForNode(attribute), false);
    m_lifecycle.DocumentModified();
    m_host.refreshPreview();
    return true;
}

bool NodeEditor::declareFor(const XmlNode &node, const QString &name, QString *error)
{
    const auto [prefix, uri] = m_declarationNeed ? m_declarationNeed(node, name) : std::pair<QString, QString>();
    if (uri.isEmpty())
        return true;
    const XmlNode element = node.isAttribute() ? node.ownerElement() : node;
    return m_host.dom()->setAttribute(element, QStringLiteral("xmlns:") + prefix, uri, error);
}

bool NodeEditor::setContent(const QModelIndex &item, const QString &newString)
{
    QString error;
    if (!m_host.dom()->setText(m_host.selection().GetDOMNode(item), newString, &error))
        return refuse(error);
    // Unless the value pane itself is the source of the change.
    if (!m_host.flags().m_PaneUpdating && item == m_host.selection().selectedItem())
        m_host.selection().ShowNode(item, false);
    m_lifecycle.DocumentModified();
    return true;
}

bool NodeEditor::refuse(const QString &description)
{
    m_host.prompt().message(description, Prompt::Icon::Exclamation);
    return false;
}
