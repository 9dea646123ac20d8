#pragma once

#include "UndoJournal.h"

#include <QList>
#include <QString>

// One state of the document's history: the changes that led to it from
// the state before, and which tree items were expanded and selected then.
// Expanded items are kept as the nodes they show: a lazily built tree has
// no numbering of its items that survives their being made on demand.
class clsUndoInfo
{
public:
    void setJournal(Journal journal) { m_journal = std::move(journal); }
    const Journal &journal() const { return m_journal; }

    void AddExpand(const XmlNode &node) { m_Expand.append(node); }
    const QList<XmlNode> &ExpandIndex() const { return m_Expand; }

    XmlNode selectedNode() const { return m_selected; }
    void setSelectedNode(const XmlNode &node) { m_selected = node; }
    QString NodeKey() const { return m_NodeKey; }
    void setNodeKey(const QString &key) { m_NodeKey = key; }
    long SelectedIndex() const { return m_SelectedIndex; }
    void setSelectedIndex(long index) { m_SelectedIndex = index; }

private:
    Journal m_journal;
    QList<XmlNode> m_Expand;
    XmlNode m_selected;
    QString m_NodeKey;
    long m_SelectedIndex = 0;
};
