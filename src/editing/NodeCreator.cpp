#include "NodeCreator.h"

#include "document/DocumentHost.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"
#include "xml/XmlDocument.h"

#include "document/NodeTreeView.h"

namespace {

QString baseName(NodeCreator::Kind kind)
{
    switch (kind) {
    case NodeCreator::Kind::Element: return QStringLiteral("Element");
    case NodeCreator::Kind::Attribute: return QStringLiteral("Attribute");
    case NodeCreator::Kind::Text: return QStringLiteral("Text");
    case NodeCreator::Kind::Comment: return QStringLiteral("Comment");
    case NodeCreator::Kind::CData: return QStringLiteral("CDATA");
    }
    return QString();
}

} // namespace

NodeCreator::NodeCreator(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent)
    : QObject(parent), m_host(host), m_lifecycle(lifecycle)
{
}

QString NodeCreator::UniqueChildName(const DocumentTreeModel &model, const QModelIndex &parent, const QString &base)
{
    const int rows = model.rowCount(parent);
    for (int n = 1;; ++n) {
        const QString candidate = base + QString::number(n);
        bool taken = false;
        for (int row = 0; row < rows && !taken; ++row) {
            const QString label = model.labelAt(model.index(row, 0, parent));
            taken = label.section(QLatin1Char('='), 0, 0) == candidate;
        }
        if (!taken)
            return candidate;
    }
}

XmlNode NodeCreator::create(Kind kind, const QString &name)
{
    XmlDocument &dom = *m_host.dom();
    switch (kind) {
    case Kind::Element: return dom.createElement(name);
    case Kind::Attribute: return dom.createAttribute(name);
    case Kind::Text: return dom.createTextNode(name);
    case Kind::Comment: return dom.createComment(name);
    case Kind::CData: return dom.createCDATASection(name);
    }
    return XmlNode();
}

void NodeCreator::add(Kind kind)
{
    if (m_host.flags().m_ReadOnly || !m_host.dom())
        return;
    Selection &selection = m_host.selection();
    QModelIndex selected = selection.selectedItem();
    const XmlNode node = selection.GetDOMNode(selected);
    if (!node)
        return;
    const bool onDocument = node.isDocument();
    const bool allowed = node.isElement()
        || (onDocument && (kind == Kind::Element || kind == Kind::Comment || kind == Kind::CData));
    if (!allowed)
        return;
    const QString proposed = kind == Kind::Attribute && m_proposal ? m_proposal(node) : QString();
    XmlNode newNode = create(kind, proposed.isEmpty() ? UniqueChildName(m_host.model(), selected, baseName(kind)) : proposed);
    if (!newNode)
        return;
    QModelIndex item;
    if (kind == Kind::Attribute) {
        item = m_host.treeBuilder().AddAttributeNode(selected, newNode, false);
    } else {
        int relationship = TreeBuilder::Child;
        item = m_host.treeBuilder().AddNode(selected, newNode, false, relationship);
    }
    if (!item.isValid())
        return;
    showNew(item, kind == Kind::Attribute);
    m_lifecycle.DocumentModified();
    if (kind == Kind::Element)
        m_host.showPreview();
}

void NodeCreator::insert(Kind kind)
{
    if (m_host.flags().m_ReadOnly || !m_host.dom() || kind == Kind::Attribute)
        return;
    Selection &selection = m_host.selection();
    QModelIndex selected = selection.selectedItem();
    const XmlNode node = selection.GetDOMNode(selected);
    if (!node || node.isDocument() || node.isAttribute())
        return;
    XmlNode newNode = create(kind, UniqueChildName(m_host.model(), selected.parent(), baseName(kind)));
    if (!newNode)
        return;
    int relationship = TreeBuilder::Previous;
    const QModelIndex item = m_host.treeBuilder().AddNode(selected, newNode, false, relationship);
    if (!item.isValid())
        return;
    showNew(item, false);
    m_lifecycle.DocumentModified();
}

void NodeCreator::showNew(const QModelIndex &item, bool selectFirst)
{
    const QPersistentModelIndex keep(item);
    m_host.treeBuilder().EnsureVisible(keep);
    if (selectFirst)
        m_host.selection().setSelectedItem(keep);
    else
        m_host.selection().ShowNode(keep, true);
    m_host.tvw()->edit(keep);
    if (selectFirst)
        m_host.selection().ShowNode(keep, true);
}

NodeMenuStates NodeCreator::menuStates() const
{
    if (!m_host.dom())
        return NodeMenuStates();
    const QModelIndex selected = m_host.selection().selectedItem();
    const XmlNode node = m_host.selection().GetDOMNode(selected);
    return nodeMenuStates(node, m_host.flags().m_ReadOnly, m_host.treeBuilder().HasRootElement(),
                          node && m_host.model().rowCount(selected) > 0);
}
