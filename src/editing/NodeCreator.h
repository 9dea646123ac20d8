#pragma once

#include "NodeMenuStates.h"

#include <QModelIndex>
#include <QObject>
#include <QString>

#include <functional>

class DocumentHost;
class DocumentLifecycle;
class DocumentTreeModel;

// The Node menu's add and insert commands: a new node with a generated
// name or text, placed through the tree builder, selected, shown, and the
// tree's label editor opened on it. Each command checks for itself that it
// applies, as keys reach it whatever the menu items' states.
class NodeCreator : public QObject
{
    Q_OBJECT
public:
    enum class Kind { Element, Attribute, Text, Comment, CData };

    NodeCreator(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent = nullptr);

    // `base` followed by the smallest number from 1 that no row of `parent`
    // shows as its label (an attribute's label counts up to its "=").
    static QString UniqueChildName(const DocumentTreeModel &model, const QModelIndex &parent, const QString &base);

    // Append a new child of the selected element (or the document for
    // elements, comments and CDATA).
    void add(Kind kind);
    // A name for a new attribute of `element` (empty: the usual one).
    void setAttributeNameProposal(std::function<QString(const XmlNode &element)> proposal) { m_proposal = std::move(proposal); }
    // Put a new sibling just before the selected node.
    void insert(Kind kind);

    // The Node menu's states for the selected node.
    NodeMenuStates menuStates() const;

private:
    XmlNode create(Kind kind, const QString &name);
    void showNew(const QModelIndex &item, bool selectFirst);

    DocumentHost &m_host;
    DocumentLifecycle &m_lifecycle;
    std::function<QString(const XmlNode &)> m_proposal;
};
