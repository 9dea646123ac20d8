#pragma once

#include "xml/XmlNode.h"

#include <QModelIndex>
#include <QString>

class DocumentTreeModel;
class NodeTreeView;
class WindowContext;
class XmlDocument;

// Builds and grows the document tree. The tree follows the document: these
// routines change the document and the model adds its items itself; they
// return the item that shows the node.
class TreeBuilder
{
public:
    // How AddNode places a node relative to a tree item.
    enum Relationship { Previous = 3, Child = 4 };

    // Works on the document the model shows.
    TreeBuilder(WindowContext &window, DocumentTreeModel &model, NodeTreeView &tvw);

    // The next process-wide key: "Node1", "Node2", ...
    static QString NewNodeKey();

    // Show `document` anew: every item dropped, the document's item made
    // with a new key; nothing selected, everything collapsed. With
    // showTreeAfter false the tree stays hidden until showTree().
    void Rebuild(XmlDocument *document, bool showTreeAfter);
    void showTree();

    // Add `domNode` relative to the item `relative`: as its previous sibling
    // (Previous) or last child (Child). With skipDom false a deep copy of
    // the node (the attribute itself, for attributes) is inserted into the
    // document first, and `domNode` becomes that copy. Returns the item of
    // the node, or an invalid index when refused: a second root element
    // (message 1009 in the status bar and a message box), text, CDATA or an
    // attribute at the document level (silently), or a document error
    // (its description in a message box).
    QModelIndex AddNode(QModelIndex &relative, XmlNode &domNode, bool skipDom, int &relationship);

    // Put `attribute` on the element of `elementItem` (skipDom false): an
    // attribute of the same name gets the new value instead, and then no
    // new item is made (invalid index).
    QModelIndex AddAttributeNode(const QModelIndex &elementItem, XmlNode &attribute, bool skipDom);

    bool HasRootElement() const;

    // Scroll the item into view, expanding its ancestors.
    void EnsureVisible(const QModelIndex &item);

private:
    XmlDocument &document() const;

    WindowContext &m_window;
    DocumentTreeModel &m_model;
    NodeTreeView &m_tvw;
};
