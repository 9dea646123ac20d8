#pragma once

#include "UndoJournal.h"

#include <QHash>
#include <QString>

// One state of the document's history: the changes that led to it from
// the state before, the tree items those changes opened or closed, and the
// item selected then. Only the items a change touched are kept, as the
// nodes they show: copying every expanded item into each step, and opening
// them all again on undo, would cost as much as the expanded tree whatever
// the change. Items the user opens or closes between changes are the
// user's view, and undo leaves them as they are.
class clsUndoInfo
{
public:
    // An item's expanded state before and after the step's changes.
    struct Expansion
    {
        bool before = false;
        bool after = false;
    };
    using Expansions = QHash<XmlNode, Expansion>;

    void setJournal(Journal journal) { m_journal = std::move(journal); }
    const Journal &journal() const { return m_journal; }
    // Later changes, undone with the step's own.
    void appendJournal(Journal later)
    {
        for (JournalEntry &e : later)
            m_journal.push_back(std::move(e));
    }

    void setExpansions(Expansions expansions) { m_expansions = std::move(expansions); }
    const Expansions &expansions() const { return m_expansions; }
    // Adds later changes of expanded state to the step's: an item keeps its
    // state before the first of them and takes the last one's after.
    void addExpansions(const Expansions &later);

    XmlNode selectedNode() const { return m_selected; }
    void setSelectedNode(const XmlNode &node) { m_selected = node; }
    QString NodeKey() const { return m_NodeKey; }
    void setNodeKey(const QString &key) { m_NodeKey = key; }
    long SelectedIndex() const { return m_SelectedIndex; }
    void setSelectedIndex(long index) { m_SelectedIndex = index; }

private:
    Journal m_journal;
    Expansions m_expansions;
    XmlNode m_selected;
    QString m_NodeKey;
    long m_SelectedIndex = 0;
};
