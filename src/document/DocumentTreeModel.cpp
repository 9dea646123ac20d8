#include "DocumentTreeModel.h"

#include "ImageList.h"
#include "xml/XmlDocument.h"

#include <QColor>
#include <QFont>

#include <climits>

int nextNodeKeyNumber()
{
    // One counter for every tree of every window; keys are never reused.
    static int counter = 0;
    if (counter == INT_MAX)
        qFatal("tree-item keys exhausted");
    return ++counter;
}

QString nodeKeyText(int number)
{
    return QStringLiteral("Node") + QString::number(number);
}

// A row shows one line: a text that starts with a line break (a notice in
// a comment, laid out below its "<!--") would show as blank or as an
// ellipsis. Such a text is shown from its first line that is not blank.
QString leadingLine(const QString &text)
{
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        const QStringView line = QStringView(text).mid(start, end - start);
        if (!line.trimmed().isEmpty())
            return start == 0 ? text : line.trimmed().toString();
        if (end == text.size())
            break;
        start = end + 1;
    }
    return text;
}

QString nodeLabel(const XmlNode &node, bool showText)
{
    if (!showText)
        return node.nodeName();
    switch (node.kind()) {
    case NodeKind::Attribute:
        return node.nodeName() + QStringLiteral("=\"") + node.text() + QLatin1Char('"');
    case NodeKind::Text:
    case NodeKind::Comment:
    case NodeKind::CData:
        return leadingLine(node.text());
    default:
        return node.nodeName();
    }
}

QString nodeImageKey(const XmlNode &node)
{
    switch (node.kind()) {
    case NodeKind::Document: return QStringLiteral("DOMDocument");
    case NodeKind::Element: return QStringLiteral("IXMLDOMElement");
    case NodeKind::Attribute: return QStringLiteral("IXMLDOMAttribute");
    case NodeKind::Text: return QStringLiteral("IXMLDOMText");
    case NodeKind::ProcessingInstruction: return QStringLiteral("IXMLDOMProcessingInstruction");
    default: return QStringLiteral("IXMLDOMComment");
    }
}

DocumentTreeModel::DocumentTreeModel(QObject *parent) : QAbstractItemModel(parent) {}

DocumentTreeModel::~DocumentTreeModel()
{
    if (m_document)
        m_document->removeObserver(this);
}

void DocumentTreeModel::setDocument(XmlDocument *document)
{
    if (m_document == document)
        return;
    beginResetModel();
    if (m_document)
        m_document->removeObserver(this);
    m_root.reset();
    m_byNode.clear();
    m_itemCount = 0;
    m_faults.clear();
    m_document = document;
    if (m_document)
        m_document->addObserver(this);
    endResetModel();
}

void DocumentTreeModel::rebuild()
{
    beginResetModel();
    m_root.reset();
    m_byNode.clear();
    m_itemCount = 0;
    m_faults.clear();
    if (m_document)
        m_root = makeItem(m_document->documentNode(), nullptr);
    endResetModel();
}

void DocumentTreeModel::clear()
{
    beginResetModel();
    m_root.reset();
    m_byNode.clear();
    m_itemCount = 0;
    m_faults.clear();
    endResetModel();
}

void DocumentTreeModel::setShowText(bool on)
{
    if (m_showText == on)
        return;
    m_showText = on;
    // Every label may change; the structure does not.
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

static bool hasTreeRows(const XmlNode &node)
{
    const NodeKind k = node.kind();
    return k == NodeKind::Document || k == NodeKind::Element;
}

std::unique_ptr<DocumentTreeModel::Item> DocumentTreeModel::makeItem(const XmlNode &node, Item *parent) const
{
    auto item = std::make_unique<Item>();
    item->node = node;
    item->parent = parent;
    item->hasRows = hasTreeRows(node);
    item->key = nextNodeKeyNumber();
    ++m_itemCount;
    m_byNode.insert(node, item.get());
    return item;
}

void DocumentTreeModel::forget(Item *item) const
{
    --m_itemCount;
    const auto it = m_byNode.constFind(item->node);
    if (it != m_byNode.cend() && it.value() == item)
        m_byNode.erase(it);
    for (const auto &child : item->children)
        forget(child.get());
}

void DocumentTreeModel::fetch(Item *item) const
{
    if (item->fetched)
        return;
    item->fetched = true;
    if (!item->hasRows)
        return;
    item->children.reserve(size_t(item->node.attributeCount() + item->node.childCount()));
    for (XmlNode a = item->node.firstAttribute(); a; a = a.nextSibling())
        item->children.push_back(makeItem(a, item));
    for (XmlNode c = item->node.firstChild(); c; c = c.nextSibling())
        item->children.push_back(makeItem(c, item));
    renumber(item, 0);
}

DocumentTreeModel::Item *DocumentTreeModel::itemFor(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Item *>(index.internalPointer()) : nullptr;
}

int DocumentTreeModel::rowOf(const Item *item) const
{
    return item->parent ? item->row : 0;
}

void DocumentTreeModel::renumber(Item *parent, int from)
{
    for (size_t i = size_t(from); i < parent->children.size(); ++i)
        parent->children[i]->row = int(i);
}

QModelIndex DocumentTreeModel::indexFor(Item *item) const
{
    if (!item)
        return QModelIndex();
    return createIndex(rowOf(item), 0, item);
}

QModelIndex DocumentTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return QModelIndex();
    if (!parent.isValid())
        return row == 0 && m_root ? createIndex(0, 0, m_root.get()) : QModelIndex();
    Item *p = itemFor(parent);
    fetch(p);
    if (size_t(row) >= p->children.size())
        return QModelIndex();
    return createIndex(row, 0, p->children[size_t(row)].get());
}

QModelIndex DocumentTreeModel::parent(const QModelIndex &child) const
{
    Item *item = itemFor(child);
    if (!item || !item->parent)
        return QModelIndex();
    return indexFor(item->parent);
}

int DocumentTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_root ? 1 : 0;
    if (parent.column() != 0)
        return 0;
    Item *p = itemFor(parent);
    // Rows come into being the first time anyone asks for them.
    fetch(p);
    return int(p->children.size());
}

int DocumentTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool DocumentTreeModel::hasChildren(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return bool(m_root);
    Item *p = itemFor(parent);
    if (p->fetched)
        return !p->children.empty();
    return p->hasRows && (p->node.hasAttributes() || p->node.hasChildNodes());
}

QVariant DocumentTreeModel::data(const QModelIndex &index, int role) const
{
    Item *item = itemFor(index);
    if (!item)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return nodeLabel(item->node, m_showText);
    case Qt::DecorationRole:
        return ImageList::icon(nodeImageKey(item->node));
    case Qt::FontRole:
        if (item->bold) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return QVariant();
    case KeyRole:
        return nodeKeyText(item->key);
    case ImageKeyRole:
        return nodeImageKey(item->node);
    case Qt::ForegroundRole:
        return m_faults.contains(item->node) ? QVariant(QColor(Qt::red)) : QVariant();
    case Qt::ToolTipRole:
    case FaultRole:
        return m_faults.contains(item->node) ? QVariant(m_faults.value(item->node)) : QVariant();
    default:
        return QVariant();
    }
}

Qt::ItemFlags DocumentTreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Editable: the view may open its label editor; whether an edit may
    // start and what it changes is the structure commands' decision. Any
    // item may be dragged; the drag carries its markup.
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    // Leaves tell the view so: it keeps no expanded state for them.
    return itemFor(index)->hasRows ? flags : flags | Qt::ItemNeverHasChildren;
}

bool DocumentTreeModel::rowsMade(const QModelIndex &index) const
{
    const Item *item = itemFor(index);
    return item && item->fetched;
}

QModelIndex DocumentTreeModel::documentIndex() const
{
    return m_root ? createIndex(0, 0, m_root.get()) : QModelIndex();
}

DocumentTreeModel::Item *DocumentTreeModel::ensureItem(const XmlNode &node) const
{
    if (!node || !m_root)
        return nullptr;
    if (Item *found = m_byNode.value(node))
        return found;
    const XmlNode parentNode = node.isAttribute() ? node.ownerElement() : node.parentNode();
    if (!parentNode)
        return nullptr;
    Item *parent = ensureItem(parentNode);
    if (!parent)
        return nullptr;
    fetch(parent);
    return m_byNode.value(node);
}

QModelIndex DocumentTreeModel::indexForNode(const XmlNode &node) const
{
    return indexFor(ensureItem(node));
}

QModelIndex DocumentTreeModel::indexForKey(const QString &key) const
{
    if (!key.startsWith(QLatin1String("Node")))
        return QModelIndex();
    bool ok = false;
    const int number = QStringView(key).mid(4).toInt(&ok);
    if (!ok || nodeKeyText(number) != key)
        return QModelIndex();
    // Keys are looked up rarely; a map of millions of them would cost more
    // than a scan does.
    for (Item *item : std::as_const(m_byNode))
        if (item->key == number)
            return indexFor(item);
    return QModelIndex();
}

XmlNode DocumentTreeModel::nodeAt(const QModelIndex &index) const
{
    Item *item = itemFor(index);
    return item ? item->node : XmlNode();
}

QString DocumentTreeModel::keyAt(const QModelIndex &index) const
{
    Item *item = itemFor(index);
    return item ? nodeKeyText(item->key) : QString();
}

QString DocumentTreeModel::labelAt(const QModelIndex &index) const
{
    Item *item = itemFor(index);
    return item ? nodeLabel(item->node, m_showText) : QString();
}

QString DocumentTreeModel::imageKeyAt(const QModelIndex &index) const
{
    Item *item = itemFor(index);
    return item ? nodeImageKey(item->node) : QString();
}

QString DocumentTreeModel::fullPath(const QModelIndex &index) const
{
    QStringList labels;
    for (Item *item = itemFor(index); item; item = item->parent)
        labels.prepend(nodeLabel(item->node, m_showText));
    return labels.join(QLatin1Char('/'));
}

int DocumentTreeModel::preOrderIndex(const QModelIndex &index) const
{
    const Item *target = itemFor(index);
    if (!target || !m_root)
        return 0;
    int position = 0;
    std::vector<const Item *> stack{m_root.get()};
    while (!stack.empty()) {
        const Item *item = stack.back();
        stack.pop_back();
        ++position;
        if (item == target)
            return position;
        for (auto it = item->children.rbegin(); it != item->children.rend(); ++it)
            stack.push_back(it->get());
    }
    return 0;
}

QModelIndex DocumentTreeModel::itemAtPreOrder(int index) const
{
    if (index < 1 || !m_root)
        return QModelIndex();
    int position = 0;
    std::vector<Item *> stack{m_root.get()};
    while (!stack.empty()) {
        Item *item = stack.back();
        stack.pop_back();
        if (++position == index)
            return indexFor(item);
        for (auto it = item->children.rbegin(); it != item->children.rend(); ++it)
            stack.push_back(it->get());
    }
    return QModelIndex();
}

void DocumentTreeModel::setBold(const QModelIndex &index, bool bold)
{
    Item *item = itemFor(index);
    if (!item || item->bold == bold)
        return;
    item->bold = bold;
    emit dataChanged(index, index, {Qt::FontRole});
}

bool DocumentTreeModel::isBold(const QModelIndex &index) const
{
    Item *item = itemFor(index);
    return item && item->bold;
}

int DocumentTreeModel::rowForNewNode(Item *parent, const XmlNode &node) const
{
    // Attributes come first, then children, each in document order.
    if (node.isAttribute())
        return node.indexInParent();
    int attributes = 0;
    for (const auto &child : parent->children) {
        if (!child->node.isAttribute())
            break;
        ++attributes;
    }
    return attributes + node.indexInParent();
}

void DocumentTreeModel::nodeInserted(const XmlNode &parentNode, const XmlNode &node, const XmlNode &)
{
    Item *parent = m_byNode.value(parentNode);
    if (!parent)
        return;
    if (!parent->fetched) {
        // A view may have been told this item had no rows; when this is its
        // first row, say so, otherwise the rows appear when first asked for.
        const XmlNode first = parentNode.firstAttribute() ? parentNode.firstAttribute() : parentNode.firstChild();
        if (first != node || node.nextSibling() || (node.isAttribute() && parentNode.firstChild()))
            return;
        // Marked fetched before announcing, or a view asking for the rows
        // in between would fetch the new node twice.
        parent->fetched = true;
        beginInsertRows(indexFor(parent), 0, 0);
        parent->children.push_back(makeItem(node, parent));
        endInsertRows();
        return;
    }
    const int row = rowForNewNode(parent, node);
    if (row < 0 || row > int(parent->children.size()))
        return;
    beginInsertRows(indexFor(parent), row, row);
    parent->children.insert(parent->children.begin() + row, makeItem(node, parent));
    renumber(parent, row);
    endInsertRows();
}

void DocumentTreeModel::nodeRemoved(const XmlNode &, const XmlNode &node, const XmlNode &)
{
    for (auto it = m_faults.begin(); it != m_faults.end();)
        it = node.isAncestorOf(it.key()) || (it.key().isAttribute() && node.isAncestorOf(it.key().ownerElement())) ? m_faults.erase(it) : std::next(it);
    Item *item = m_byNode.value(node);
    if (!item || !item->parent)
        return;
    Item *parent = item->parent;
    const int row = rowOf(item);
    beginRemoveRows(indexFor(parent), row, row);
    forget(item);
    parent->children.erase(parent->children.begin() + row);
    renumber(parent, row);
    endRemoveRows();
}

void DocumentTreeModel::setFaults(const QHash<XmlNode, QString> &faults)
{
    const QHash<XmlNode, QString> old = std::exchange(m_faults, faults);
    for (const QHash<XmlNode, QString> *marks : {&old, const_cast<const QHash<XmlNode, QString> *>(&m_faults)}) {
        for (auto it = marks->begin(); it != marks->end(); ++it) {
            if (Item *item = m_byNode.value(it.key())) {
                const QModelIndex i = indexFor(item);
                emit dataChanged(i, i, {Qt::ForegroundRole, Qt::ToolTipRole, FaultRole});
            }
        }
    }
}

void DocumentTreeModel::nodeRenamed(const XmlNode &node, const QString &)
{
    if (Item *item = m_byNode.value(node)) {
        const QModelIndex i = indexFor(item);
        emit dataChanged(i, i);
    }
}

void DocumentTreeModel::textChanged(const XmlNode &node, const QString &)
{
    nodeRenamed(node, QString());
}

void DocumentTreeModel::documentReplaced()
{
    // Every handle the items hold is gone; the owner rebuilds when ready.
    clear();
}
