#pragma once

#include "xml/XmlDocumentObserver.h"
#include "xml/XmlNode.h"

#include <QAbstractItemModel>
#include <QHash>

#include <memory>
#include <vector>

class XmlDocument;

// The next tree-item key number of the process: 1, 2, 3, ... never reused.
// Keys are "Node" followed by the number.
int nextNodeKeyNumber();
QString nodeKeyText(int number);

// The label a tree item shows for a node, and the image key of its kind.
QString nodeLabel(const XmlNode &node, bool showText);
QString nodeImageKey(const XmlNode &node);

// A lazy item model mirroring an XmlDocument. Row 0 at the top is the
// document node; an element's rows are its attributes, then its children;
// the document's rows are its children. An item is created (and given its
// key) only when its parent's rows are first needed. Labels and icons are
// computed from the node when asked for, so they never go stale.
//
// The model follows the document: it observes every mutation and inserts,
// removes and updates its rows itself.
class DocumentTreeModel : public QAbstractItemModel, private XmlDocumentObserver
{
    Q_OBJECT
public:
    explicit DocumentTreeModel(QObject *parent = nullptr);
    ~DocumentTreeModel() override;

    // The document to mirror (not owned); null empties the model. The model
    // stays empty until rebuild().
    void setDocument(XmlDocument *document);
    XmlDocument *document() const { return m_document; }

    // Drop every item and make the document's item anew, with a new key.
    void rebuild();
    // Drop every item and show nothing (no document item).
    void clear();

    // Room for `more` items about to be made, so that making them does not
    // grow the lookups step by step.
    void reserve(qsizetype more) const { m_byNode.reserve(m_byNode.size() + more); }

    // Labels show text content (name="value" for attributes) when on.
    void setShowText(bool on);
    bool showText() const { return m_showText; }

    // Lookups. Items are made on the way when needed.
    QModelIndex documentIndex() const;
    QModelIndex indexForNode(const XmlNode &node) const;
    // By key: a scan of the items made, for the rare lookup.
    QModelIndex indexForKey(const QString &key) const;
    XmlNode nodeAt(const QModelIndex &index) const;
    // The index of the item an index of this model points at.
    QModelIndex indexOfItem(const void *item) const { return indexFor(static_cast<Item *>(const_cast<void *>(item))); }
    // True once the item's rows have been made (asking for them makes them).
    bool rowsMade(const QModelIndex &index) const;
    QString keyAt(const QModelIndex &index) const;
    QString labelAt(const QModelIndex &index) const;
    QString imageKeyAt(const QModelIndex &index) const;
    // Labels from the top item down, joined by "/".
    QString fullPath(const QModelIndex &index) const;

    // The items that exist, counted and numbered in document order
    // (pre-order), 1-based.
    int createdCount() const { return m_itemCount; }
    int preOrderIndex(const QModelIndex &index) const;
    QModelIndex itemAtPreOrder(int index) const;

    void setBold(const QModelIndex &index, bool bold);
    bool isBold(const QModelIndex &index) const;

    // Faults the schema check found, by node (an element or an attribute):
    // their items show in red, with the messages as tooltip. Replaced as a
    // whole by each check; nodes leaving the document lose theirs.
    void setFaults(const QHash<XmlNode, QString> &faults);
    const QHash<XmlNode, QString> &faults() const { return m_faults; }

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Roles beyond Qt's.
    enum Role { KeyRole = Qt::UserRole + 1, ImageKeyRole, FaultRole };

private:
    struct Item
    {
        XmlNode node;
        int key = 0;
        int row = 0; // position among the parent's rows, kept current
        Item *parent = nullptr;
        std::vector<std::unique_ptr<Item>> children;
        bool fetched = false;
        bool bold = false;
        // Whether the node can have rows (an element or the document): kept
        // here because the view asks for every row's flags on each layout,
        // and reading the node's kind then touches all of the document.
        bool hasRows = false;
    };

    Item *itemFor(const QModelIndex &index) const;
    QModelIndex indexFor(Item *item) const;
    int rowOf(const Item *item) const;
    void fetch(Item *item) const;
    std::unique_ptr<Item> makeItem(const XmlNode &node, Item *parent) const;
    void forget(Item *item) const;
    static void renumber(Item *parent, int from);
    Item *ensureItem(const XmlNode &node) const;
    int rowForNewNode(Item *parent, const XmlNode &node) const;

    void nodeInserted(const XmlNode &parent, const XmlNode &node, const XmlNode &nextSibling) override;
    void nodeRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &formerNextSibling) override;
    void nodeRenamed(const XmlNode &node, const QString &oldName) override;
    void textChanged(const XmlNode &node, const QString &oldText) override;
    void documentReplaced() override;

    XmlDocument *m_document = nullptr;
    // The one top item, the document's; mutable because items are made
    // when a view first asks for them.
    mutable std::unique_ptr<Item> m_root;
    mutable int m_itemCount = 0;
    mutable QHash<XmlNode, Item *> m_byNode;
    bool m_showText = true;
    QHash<XmlNode, QString> m_faults;
};
