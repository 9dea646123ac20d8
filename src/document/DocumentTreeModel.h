#pragma once

#include "xml/XmlDocumentObserver.h"
#include "xml/XmlNode.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QSet>
#include <functional>


class XmlDocument;

// The next tree-item key number of the process: 1, 2, 3, ... never reused.
// Keys are "Node" followed by the number.
int nextNodeKeyNumber();
QString nodeKeyText(int number);

// The label a tree item shows for a node, and the image key of its kind.
QString nodeLabel(const XmlNode &node, bool showText);
QString nodeImageKey(const XmlNode &node);

// An item model mirroring an XmlDocument. Row 0 at the top is the document
// node; an element's rows are its attributes, then its children; the
// document's rows are its children.
//
// The model keeps nothing per node: an index names its node by address,
// and labels, icons and row numbers are read from the document when asked,
// so they never go stale and a document of millions of nodes costs no
// memory here. A row's number among its siblings is counted and kept until
// the next change of the tree. Keys are given to nodes when first asked for.
//
// The model follows the document: it observes every mutation and announces
// the rows that came or went. The document has changed by the time it is
// told, so while a change is announced the model shows the rows as they
// stood: a leaving row in its place, an arriving one not yet.
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

    // Shows the document's item anew; every node gets a new key when next
    // asked for.
    void rebuild();
    // Shows nothing (no document item).
    void clear();

    // Labels show text content (name="value" for attributes) when on.
    void setShowText(bool on);

    // Whether an item's rows are shown, as the view says. A label changing
    // below a closed item is seen by nobody and not announced: changing
    // 100,000 values would otherwise look up 100,000 rows.
    void setOpenTest(std::function<bool(const void *item)> isOpen) { m_isOpen = std::move(isOpen); }
    bool showText() const { return m_showText; }

    // Lookups.
    QModelIndex documentIndex() const;
    // Invalid for a node not in the document's tree.
    QModelIndex indexForNode(const XmlNode &node) const;
    // By key: a scan of the keys given, for the rare lookup.
    QModelIndex indexForKey(const QString &key) const;
    XmlNode nodeAt(const QModelIndex &index) const;
    // The index of the row whose index had this internal pointer.
    QModelIndex indexOfItem(const void *item) const;
    // The first row under `parent`, and the row after `index` among its
    // siblings: walking rows so costs one step a row, where index() counts
    // from the first.
    QModelIndex firstRowIndex(const QModelIndex &parent) const;
    QModelIndex nextRowIndex(const QModelIndex &index) const;
    QString keyAt(const QModelIndex &index) const;
    QString labelAt(const QModelIndex &index) const;
    QString imageKeyAt(const QModelIndex &index) const;
    // Labels from the top item down, joined by "/".
    QString fullPath(const QModelIndex &index) const;

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
    // A row arriving or leaving while the change is announced: the rows
    // are shown as they stood before it, `extra` more than the document has
    // now (1 while a row leaves, -1 while one arrives).
    struct Change
    {
        XmlNode parent;
        XmlNode node;
        int row = -1;
        int extra = 0;
    };
    bool changing(const XmlNode &parent) const { return m_change.extra != 0 && parent == m_change.parent; }

    XmlNode nodeOf(const void *id) const;
    void *idOf(const XmlNode &node) const;
    QModelIndex indexOf(const XmlNode &node) const;
    // The node whose rows hold `node`: an attribute's element, a child's parent.
    XmlNode above(const XmlNode &node) const;
    int rowOfNode(const XmlNode &node) const;
    XmlNode rowAt(const XmlNode &parent, int row) const;
    bool inTree(const XmlNode &node) const;
    void forgetRows() const;

    void nodeInserted(const XmlNode &parent, const XmlNode &node, const XmlNode &nextSibling) override;
    void nodeRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &formerNextSibling) override;
    void nodeRenamed(const XmlNode &node, const QString &oldName) override;
    void textChanged(const XmlNode &node, const QString &oldText) override;
    void documentReplaced() override;

    XmlDocument *m_document = nullptr;
    bool m_shown = false;
    bool m_showText = true;
    std::function<bool(const void *)> m_isOpen;
    Change m_change;
    // By parent: the row rowAt() found last, and how many rows it has,
    // until the tree changes.
    struct Found
    {
        XmlNode parent;
        XmlNode node;
        int row = 0;
    };
    mutable QHash<const void *, Found> m_last;
    mutable QHash<const void *, int> m_counted;
    // Row numbers counted since the tree last changed, by address.
    mutable QHash<const void *, int> m_rowNumbers;
    // Namespace declarations have no parent pointer: their elements, by
    // the declaration's address.
    mutable QHash<const void *, void *> m_declaredOn;
    mutable QHash<XmlNode, int> m_keys;
    QSet<XmlNode> m_bold;
    QHash<XmlNode, QString> m_faults;
};
