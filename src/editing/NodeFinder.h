#pragma once

#include "xml/XmlNode.h"

#include <QList>
#include <QModelIndex>
#include <QObject>
#include <QPersistentModelIndex>
#include <QString>

class DocumentHost;
class QComboBox;

// Find by wildcard pattern over the tree's labels, and the path box's
// XPath query. Both walk the document's nodes in the tree's order rather
// than the items, so they cover items not made yet, and make items only
// for what they select or mark. Positions are not counted, so a tree of
// any size can be searched.
class NodeFinder : public QObject
{
    Q_OBJECT
public:
    NodeFinder(DocumentHost &host, QComboBox &cboPath, QObject *parent = nullptr);

    // Ask for the pattern (Cancel clears it), then find next.
    void mnuEditFind_Click();
    // From the selected item (the document's when none), or ask first.
    void mnuEditFindNext_Click();
    // Backwards from the selected item, only with a pattern.
    void findPrevious();

    // Select the next (previous) item after (before) `start` whose label
    // matches `pattern`; the start itself is not examined and the search
    // does not wrap. The status bar says when it reached the end.
    bool FindForward(const QModelIndex &start, const QString &pattern);
    bool FindBackward(const QModelIndex &start, const QString &pattern);

    // Run the path box's expression from the selected node (its element
    // when it is neither an element nor the document): results are marked
    // bold, the first selected, the count shown and the expression kept.
    void RunPathQuery();

    QString findText() const { return m_FindText; }

    // The node after (before) `node` in the tree's order: an element's
    // attributes, then its children, depth first.
    static XmlNode nextInTree(const XmlNode &node);
    static XmlNode previousInTree(const XmlNode &node);
    // The first node after `node` and its rows (none after the last).
    static XmlNode nextOutside(const XmlNode &node);

private:
    bool select(const XmlNode &node);

    DocumentHost &m_host;
    QComboBox &m_cboPath;
    QString m_FindText;
    QList<QPersistentModelIndex> m_marked;
};
