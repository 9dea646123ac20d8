#include "TreeBuilder.h"

#include "base/StringTable.h"
#include "DocumentTreeModel.h"
#include "Prompt.h"
#include "WindowContext.h"
#include "xml/XmlDocument.h"

#include "NodeTreeView.h"

TreeBuilder::TreeBuilder(WindowContext &window, DocumentTreeModel &model, NodeTreeView &tvw)
    : m_window(window), m_model(model), m_tvw(tvw)
{
}

XmlDocument &TreeBuilder::document() const
{
    return *m_model.document();
}

QString TreeBuilder::NewNodeKey()
{
    return nodeKeyText(nextNodeKeyNumber());
}

void TreeBuilder::Rebuild(XmlDocument *document, bool showTreeAfter)
{
    if (!document)
        return;
    // Hidden from painting, not from the layout, so the panes keep their
    // sizes while the tree is remade.
    m_tvw.setUpdatesEnabled(false);
    if (m_model.document() != document)
        m_model.setDocument(document);
    m_model.rebuild();
    if (showTreeAfter)
        showTree();
}

void TreeBuilder::showTree()
{
    m_tvw.setUpdatesEnabled(true);
}

QModelIndex TreeBuilder::AddNode(QModelIndex &relative, XmlNode &domNode, bool skipDom, int &relationship)
{
    if (!domNode || !m_model.document())
        return QModelIndex();
    if (!skipDom) {
        if (!domNode.isAttribute())
            domNode = document().cloneNode(domNode);
        if (!domNode)
            return QModelIndex();
        XmlNode parent;
        XmlNode reference;
        if (relationship == Previous) {
            parent = m_model.nodeAt(relative.parent());
            reference = m_model.nodeAt(relative);
        } else {
            parent = m_model.nodeAt(relative);
        }
        if (!parent)
            return QModelIndex();
        if (!parent.isDocument()) {
            if (domNode.isAttribute()) {
                // Already on its element; attributes stay ahead of the other
                // children, so the place is before the first non-attribute.
                const int rows = m_model.rowCount(relative);
                for (int row = 0; row < rows; ++row) {
                    const QModelIndex child = m_model.index(row, 0, relative);
                    if (!m_model.nodeAt(child).isAttribute()) {
                        relative = child;
                        relationship = Previous;
                        break;
                    }
                }
            } else {
                QString error;
                if (!document().insertBefore(parent, domNode, reference, &error)) {
                    m_window.prompt().message(error, Prompt::Icon::Exclamation);
                    return QModelIndex();
                }
                if (domNode.isElement() && !m_window.flags().m_ApplyingText)
                    m_window.refreshPreview();
            }
        } else {
            const NodeKind kind = domNode.kind();
            if (kind == NodeKind::Text || kind == NodeKind::Attribute || kind == NodeKind::CData)
                return QModelIndex();
            if (kind == NodeKind::Element && HasRootElement()) {
                const QString text = GetResString(9);
                m_window.setStatusText(text);
                m_window.prompt().message(text, Prompt::Icon::Exclamation);
                return QModelIndex();
            }
            QString error;
            if (!document().insertBefore(parent, domNode, reference, &error)) {
                m_window.prompt().message(error, Prompt::Icon::Exclamation);
                return QModelIndex();
            }
        }
    }
    const QModelIndex item = m_model.indexForNode(domNode);
    switch (domNode.kind()) {
    case NodeKind::Element:
    case NodeKind::Attribute:
    case NodeKind::Comment:
    case NodeKind::Text:
    case NodeKind::CData:
    case NodeKind::ProcessingInstruction:
    case NodeKind::DocumentType:
        break;
    default:
        if (!skipDom)
            m_window.prompt().message(domNode.kindName() + QStringLiteral(" is added to tree"));
        break;
    }
    return item;
}

QModelIndex TreeBuilder::AddAttributeNode(const QModelIndex &elementItem, XmlNode &attribute, bool skipDom)
{
    if (!m_model.document())
        return QModelIndex();
    if (!skipDom) {
        const XmlNode element = m_model.nodeAt(elementItem);
        if (!element.isElement() || !attribute.isAttribute())
            return QModelIndex();
        const XmlNode existing = element.attributeNode(attribute.nodeName());
        QString error;
        if (existing) {
            if (!document().setText(existing, attribute.text(), &error))
                m_window.prompt().message(error, Prompt::Icon::Exclamation);
            // The attribute already has its item.
            return QModelIndex();
        }
        if (!document().setAttributeNode(element, attribute, XmlNode(), nullptr, &error)) {
            m_window.prompt().message(error, Prompt::Icon::Exclamation);
            return QModelIndex();
        }
    }
    QModelIndex relative = elementItem;
    int relationship = Child;
    return AddNode(relative, attribute, true, relationship);
}

bool TreeBuilder::HasRootElement() const
{
    const QModelIndex top = m_model.documentIndex();
    const int rows = m_model.rowCount(top);
    for (int row = 0; row < rows; ++row)
        if (m_model.nodeAt(m_model.index(row, 0, top)).isElement())
            return true;
    return false;
}

void TreeBuilder::EnsureVisible(const QModelIndex &item)
{
    for (QModelIndex parent = item.parent(); parent.isValid(); parent = parent.parent())
        m_tvw.expand(parent);
    m_tvw.scrollTo(item);
}
