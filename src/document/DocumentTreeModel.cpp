#include "DocumentTreeModel.h"

#include "ImageList.h"
#include "xml/XmlDocument.h"
#include "xml/XmlNodeAccess.h"

#include <QColor>
#include <QFont>

#include <algorithm>
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
    m_shown = false;
    forgetRows();
    m_document = document;
    if (m_document)
        m_document->addObserver(this);
    endResetModel();
}

void DocumentTreeModel::rebuild()
{
    beginResetModel();
    m_shown = m_document != nullptr;
    m_keys.clear();
    m_bold.clear();
    m_faults.clear();
    m_declaredOn.clear();
    forgetRows();
    endResetModel();
}

void DocumentTreeModel::clear()
{
    beginResetModel();
    m_shown = false;
    m_keys.clear();
    m_bold.clear();
    m_faults.clear();
    m_declaredOn.clear();
    forgetRows();
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

// Addresses are at least 4-aligned: the low bit marks a namespace
// declaration, whose element is kept aside.
void *DocumentTreeModel::idOf(const XmlNode &node) const
{
    void *address = XmlNodeAccess::address(node);
    if (void *owner = XmlNodeAccess::owner(node)) {
        m_declaredOn.insert(address, owner);
        return reinterpret_cast<void *>(quintptr(address) | 1);
    }
    return address;
}

XmlNode DocumentTreeModel::nodeOf(const void *id) const
{
    if (!id)
        return XmlNode();
    if (quintptr(id) & 1) {
        void *address = reinterpret_cast<void *>(quintptr(id) & ~quintptr(1));
        return XmlNodeAccess::make(address, m_declaredOn.value(address));
    }
    return XmlNodeAccess::make(const_cast<void *>(id), nullptr);
}

QModelIndex DocumentTreeModel::indexOf(const XmlNode &node) const
{
    if (!node)
        return QModelIndex();
    return createIndex(node.isDocument() ? 0 : rowOfNode(node), 0, idOf(node));
}

XmlNode DocumentTreeModel::above(const XmlNode &node) const
{
    if (m_change.extra > 0 && node == m_change.node)
        return m_change.parent;
    return node.isAttribute() ? node.ownerElement() : node.parentNode();
}

void DocumentTreeModel::forgetRows() const
{
    m_rowNumbers.clear();
    m_last.clear();
    m_counted.clear();
}

int DocumentTreeModel::rowOfNode(const XmlNode &node) const
{
    if (m_change.extra != 0) {
        // Counted in the tree as it stood.
        if (node == m_change.node)
            return m_change.row;
        const XmlNode parent = above(node);
        const int row = node.isAttribute() ? node.indexInParent() : parent.attributeCount() + node.indexInParent();
        return changing(parent) && row >= m_change.row ? row + m_change.extra : row;
    }
    const void *address = XmlNodeAccess::address(node);
    const auto known = m_rowNumbers.constFind(address);
    if (known != m_rowNumbers.cend())
        return known.value();
    const int row = node.isAttribute() ? node.indexInParent() : above(node).attributeCount() + node.indexInParent();
    // Numbers are kept for the rows in sight and their parents; a walk
    // through millions of rows starts the memory over.
    if (m_rowNumbers.size() >= (1 << 16))
        m_rowNumbers.clear();
    m_rowNumbers.insert(address, row);
    return row;
}

XmlNode DocumentTreeModel::rowAt(const XmlNode &parent, int row) const
{
    if (changing(parent)) {
        if (m_change.extra > 0 && row == m_change.row)
            return m_change.node;
        if (row >= m_change.row + std::max(m_change.extra, 0))
            row -= m_change.extra;
    }
    if (row < 0)
        return XmlNode();
    // Rows asked for one after another (a walk over all of them) step on
    // from the last one found instead of counting from the first. Rows are
    // the document's as it is now, also while a change is announced.
    int at = 0;
    XmlNode node = parent.firstAttribute() ? parent.firstAttribute() : parent.firstChild();
    if (m_last.size() >= (1 << 12))
        m_last.clear();
    Found &last = m_last[XmlNodeAccess::address(parent)];
    if (last.node && last.row <= row) {
        at = last.row;
        node = last.node;
    }
    for (; node && at < row; ++at) {
        const XmlNode next = node.nextSibling();
        node = next || !node.isAttribute() ? next : parent.firstChild();
    }
    if (node)
        last = {parent, node, row};
    return node;
}

bool DocumentTreeModel::inTree(const XmlNode &node) const
{
    if (!m_shown || !node)
        return false;
    return node.isDocument() ? node == m_document->documentNode() : node.isAttached();
}

QModelIndex DocumentTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return QModelIndex();
    if (!parent.isValid())
        return row == 0 ? documentIndex() : QModelIndex();
    const XmlNode node = rowAt(nodeOf(parent.internalPointer()), row);
    return node ? createIndex(row, 0, idOf(node)) : QModelIndex();
}

QModelIndex DocumentTreeModel::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return QModelIndex();
    return indexOf(above(nodeOf(child.internalPointer())));
}

int DocumentTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_shown ? 1 : 0;
    if (parent.column() != 0)
        return 0;
    const XmlNode node = nodeOf(parent.internalPointer());
    if (!node.isElement() && !node.isDocument())
        return 0;
    const void *address = XmlNodeAccess::address(node);
    auto counted = m_counted.constFind(address);
    if (counted == m_counted.cend() && m_counted.size() >= (1 << 12))
        m_counted.clear();
    if (counted == m_counted.cend())
        counted = m_counted.insert(address, node.attributeCount() + node.childCount());
    return changing(node) ? counted.value() + m_change.extra : counted.value();
}

int DocumentTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool DocumentTreeModel::hasChildren(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_shown;
    const XmlNode node = nodeOf(parent.internalPointer());
    if (!node.isElement() && !node.isDocument())
        return false;
    if (changing(node))
        return rowCount(parent) > 0;
    return node.hasAttributes() || node.hasChildNodes();
}

QModelIndex DocumentTreeModel::firstRowIndex(const QModelIndex &parent) const
{
    if (!parent.isValid() || changing(nodeOf(parent.internalPointer())))
        return index(0, 0, parent);
    const XmlNode node = nodeOf(parent.internalPointer());
    if (!node.isElement() && !node.isDocument())
        return QModelIndex();
    const XmlNode first = node.firstAttribute() ? node.firstAttribute() : node.firstChild();
    return first ? createIndex(0, 0, idOf(first)) : QModelIndex();
}

QModelIndex DocumentTreeModel::nextRowIndex(const QModelIndex &index) const
{
    if (!index.isValid())
        return QModelIndex();
    const XmlNode node = nodeOf(index.internalPointer());
    if (m_change.extra != 0 && (node == m_change.node || changing(above(node))))
        return this->index(index.row() + 1, 0, index.parent());
    XmlNode next = node.nextSibling();
    if (!next && node.isAttribute())
        next = node.ownerElement().firstChild();
    return next ? createIndex(index.row() + 1, 0, idOf(next)) : QModelIndex();
}

QVariant DocumentTreeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const XmlNode node = nodeOf(index.internalPointer());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return nodeLabel(node, m_showText);
    case Qt::DecorationRole:
        return ImageList::icon(nodeImageKey(node));
    case Qt::FontRole:
        if (m_bold.contains(node)) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return QVariant();
    case KeyRole:
        return keyAt(index);
    case ImageKeyRole:
        return nodeImageKey(node);
    case Qt::ForegroundRole:
        return m_faults.contains(node) ? QVariant(QColor(Qt::red)) : QVariant();
    case Qt::ToolTipRole:
    case FaultRole:
        return m_faults.contains(node) ? QVariant(m_faults.value(node)) : QVariant();
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
    const XmlNode node = nodeOf(index.internalPointer());
    return node.isElement() || node.isDocument() ? flags : flags | Qt::ItemNeverHasChildren;
}

QModelIndex DocumentTreeModel::documentIndex() const
{
    return m_shown ? createIndex(0, 0, idOf(m_document->documentNode())) : QModelIndex();
}

QModelIndex DocumentTreeModel::indexForNode(const XmlNode &node) const
{
    return inTree(node) ? indexOf(node) : QModelIndex();
}

QModelIndex DocumentTreeModel::indexOfItem(const void *item) const
{
    return item ? indexOf(nodeOf(item)) : QModelIndex();
}

QModelIndex DocumentTreeModel::indexForKey(const QString &key) const
{
    if (!key.startsWith(QLatin1String("Node")))
        return QModelIndex();
    bool ok = false;
    const int number = QStringView(key).mid(4).toInt(&ok);
    if (!ok || nodeKeyText(number) != key)
        return QModelIndex();
    for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it)
        if (it.value() == number)
            return indexForNode(it.key());
    return QModelIndex();
}

XmlNode DocumentTreeModel::nodeAt(const QModelIndex &index) const
{
    return index.isValid() ? nodeOf(index.internalPointer()) : XmlNode();
}

QString DocumentTreeModel::keyAt(const QModelIndex &index) const
{
    const XmlNode node = nodeAt(index);
    if (!node)
        return QString();
    auto key = m_keys.find(node);
    if (key == m_keys.end())
        key = m_keys.insert(node, nextNodeKeyNumber());
    return nodeKeyText(key.value());
}

QString DocumentTreeModel::labelAt(const QModelIndex &index) const
{
    return index.isValid() ? nodeLabel(nodeAt(index), m_showText) : QString();
}

QString DocumentTreeModel::imageKeyAt(const QModelIndex &index) const
{
    return index.isValid() ? nodeImageKey(nodeAt(index)) : QString();
}

QString DocumentTreeModel::fullPath(const QModelIndex &index) const
{
    QStringList labels;
    for (XmlNode node = nodeAt(index); node; node = above(node))
        labels.prepend(nodeLabel(node, m_showText));
    return labels.join(QLatin1Char('/'));
}

void DocumentTreeModel::setBold(const QModelIndex &index, bool bold)
{
    const XmlNode node = nodeAt(index);
    if (!node || m_bold.contains(node) == bold)
        return;
    if (bold)
        m_bold.insert(node);
    else
        m_bold.remove(node);
    emit dataChanged(index, index, {Qt::FontRole});
}

bool DocumentTreeModel::isBold(const QModelIndex &index) const
{
    return index.isValid() && m_bold.contains(nodeAt(index));
}

// Drops what is kept for `top`, the nodes below it and their attributes.
template <typename Map>
static void eraseWithin(Map &map, const XmlNode &top)
{
    for (auto it = map.begin(); it != map.end();) {
        const XmlNode &node = it.key();
        it = top.isAncestorOf(node) || (node.isAttribute() && top.isAncestorOf(node.ownerElement())) ? map.erase(it) : std::next(it);
    }
}

void DocumentTreeModel::nodeInserted(const XmlNode &parentNode, const XmlNode &node, const XmlNode &)
{
    // Nodes put together outside the tree have no rows to announce.
    if (!inTree(parentNode))
        return;
    forgetRows();
    const int row = rowOfNode(node);
    const QModelIndex parent = indexOf(parentNode);
    m_change = {parentNode, node, row, -1};
    beginInsertRows(parent, row, row);
    m_change = {};
    endInsertRows();
}

void DocumentTreeModel::nodeRemoved(const XmlNode &parentNode, const XmlNode &node, const XmlNode &formerNextSibling)
{
    eraseWithin(m_faults, node);
    if (!inTree(parentNode))
        return;
    // A node that comes back, by a move or an undo, is a new item: it gets
    // a new key, and no mark.
    eraseWithin(m_keys, node);
    m_bold.remove(node);
    forgetRows();
    // The row it stood in is the one its former next sibling has now; the
    // last attribute stood before the children.
    int row = 0;
    if (formerNextSibling)
        row = rowOfNode(formerNextSibling);
    else
        row = node.isAttribute() ? parentNode.attributeCount() : parentNode.attributeCount() + parentNode.childCount();
    const QModelIndex parent = indexOf(parentNode);
    m_change = {parentNode, node, row, 1};
    beginRemoveRows(parent, row, row);
    m_change = {};
    endRemoveRows();
}

void DocumentTreeModel::setFaults(const QHash<XmlNode, QString> &faults)
{
    const QHash<XmlNode, QString> old = std::exchange(m_faults, faults);
    for (const QHash<XmlNode, QString> *marks : {&old, const_cast<const QHash<XmlNode, QString> *>(&m_faults)}) {
        for (auto it = marks->begin(); it != marks->end(); ++it) {
            const QModelIndex i = indexForNode(it.key());
            if (i.isValid())
                emit dataChanged(i, i, {Qt::ForegroundRole, Qt::ToolTipRole, FaultRole});
        }
    }
}

void DocumentTreeModel::nodeRenamed(const XmlNode &node, const QString &)
{
    const XmlNode parent = node.isDocument() ? XmlNode() : above(node);
    if (m_isOpen && parent && !m_isOpen(XmlNodeAccess::address(parent)))
        return;
    const QModelIndex i = indexForNode(node);
    if (i.isValid())
        emit dataChanged(i, i);
}

void DocumentTreeModel::textChanged(const XmlNode &node, const QString &)
{
    nodeRenamed(node, QString());
}

void DocumentTreeModel::documentReplaced()
{
    // Every address the indexes hold is gone; the owner rebuilds when ready.
    clear();
}
