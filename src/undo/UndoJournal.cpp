#include "UndoJournal.h"

#include "xml/XmlDocument.h"

#include <algorithm>

UndoJournal::~UndoJournal()
{
    attach(nullptr);
}

void UndoJournal::attach(XmlDocument *document)
{
    if (m_document)
        m_document->removeObserver(this);
    m_document = document;
    m_pending.clear();
    if (m_document)
        m_document->addObserver(this);
}

Journal UndoJournal::take()
{
    Journal out;
    out.swap(m_pending);
    return out;
}

bool UndoJournal::apply(const JournalEntry &e, bool forward)
{
    XmlDocument &doc = *m_document;
    const bool insert = (e.type == JournalEntry::Type::Insert) == forward;
    switch (e.type) {
    case JournalEntry::Type::Insert:
    case JournalEntry::Type::Remove:
        if (!insert)
            return doc.removeNode(e.node);
        if (e.node.isAttribute())
            return doc.setAttributeNode(e.parent, e.node, e.next);
        return doc.insertBefore(e.parent, e.node, e.next);
    case JournalEntry::Type::Rename:
        return doc.rename(e.node, forward ? e.after : e.before);
    case JournalEntry::Type::Text: {
        const QString current = e.node.text();
        const QString &from = forward ? e.before : e.after;
        if (current.size() != e.prefix + from.size() + e.suffix)
            return false;
        return doc.setText(e.node, current.left(e.prefix) + (forward ? e.after : e.before) + current.right(e.suffix));
    }
    }
    return false;
}

bool UndoJournal::undo(const Journal &journal)
{
    if (!m_document)
        return false;
    m_replaying = true;
    bool ok = true;
    for (auto it = journal.rbegin(); it != journal.rend(); ++it)
        ok = apply(*it, false) && ok;
    m_replaying = false;
    return ok;
}

bool UndoJournal::redo(const Journal &journal)
{
    if (!m_document)
        return false;
    m_replaying = true;
    bool ok = true;
    for (const JournalEntry &e : journal)
        ok = apply(e, true) && ok;
    m_replaying = false;
    return ok;
}

void UndoJournal::nodeInserted(const XmlNode &parent, const XmlNode &node, const XmlNode &nextSibling)
{
    if (!m_replaying)
        m_pending.push_back({JournalEntry::Type::Insert, parent, node, nextSibling, {}, {}});
}

void UndoJournal::nodeRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &formerNextSibling)
{
    if (!m_replaying)
        m_pending.push_back({JournalEntry::Type::Remove, parent, node, formerNextSibling, {}, {}});
}

void UndoJournal::nodeRenamed(const XmlNode &node, const QString &oldName)
{
    if (!m_replaying)
        m_pending.push_back({JournalEntry::Type::Rename, {}, node, {}, oldName, node.nodeName()});
}

void UndoJournal::textChanged(const XmlNode &node, const QString &oldText)
{
    if (m_replaying)
        return;
    const QString newText = node.text();
    qsizetype prefix = 0;
    const qsizetype shorter = std::min(oldText.size(), newText.size());
    while (prefix < shorter && oldText[prefix] == newText[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && oldText[oldText.size() - 1 - suffix] == newText[newText.size() - 1 - suffix])
        ++suffix;
    JournalEntry e{JournalEntry::Type::Text, {}, node, {}, oldText.mid(prefix, oldText.size() - prefix - suffix),
                   newText.mid(prefix, newText.size() - prefix - suffix)};
    e.prefix = int(prefix);
    e.suffix = int(suffix);
    // A replacement made throughout a document changes many values alike:
    // their entries share one copy of the texts instead of holding one each.
    if (!m_pending.empty()) {
        const JournalEntry &last = m_pending.back();
        if (last.type == JournalEntry::Type::Text && last.before == e.before && last.after == e.after) {
            e.before = last.before;
            e.after = last.after;
        }
    }
    m_pending.push_back(std::move(e));
}

void UndoJournal::documentReplaced()
{
    m_pending.clear();
}
