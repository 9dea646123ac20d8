#pragma once

#include "xml/XmlDocumentObserver.h"

#include <QString>

#include <deque>

class XmlDocument;

// One recorded change of a document, with what it takes to undo and redo it.
struct JournalEntry
{
    enum class Type { Insert, Remove, Rename, Text };
    Type type;
    XmlNode parent; // insert, remove: the parent (the element, for attributes)
    XmlNode node;
    XmlNode next;   // insert: the sibling after the node; remove: the one it stood before
    QString before; // rename: old name; text: the old part of the text
    QString after;  // rename: new name; text: the new part of the text
    // Text: the length of the unchanged start and end around that part, so
    // a keystroke in a long text keeps one character, not two copies.
    int prefix = 0;
    int suffix = 0;
};

// A deque, not a vector: a step of 100,000 changes grows by blocks instead
// of moving everything into a buffer twice as large, which for a moment
// would hold both.
using Journal = std::deque<JournalEntry>;

// Records every change of a document as it happens. Nodes taken out of the
// document stay owned by it, so the recorded handles can be put back.
class UndoJournal : public XmlDocumentObserver
{
public:
    UndoJournal() = default;
    ~UndoJournal() override;
    UndoJournal(const UndoJournal &) = delete;
    UndoJournal &operator=(const UndoJournal &) = delete;

    // The document to record (null: none). Anything pending is dropped.
    void attach(XmlDocument *document);
    XmlDocument *document() const { return m_document; }

    // The changes recorded since the last take().
    Journal take();
    bool hasPending() const { return !m_pending.empty(); }

    // Change the document back, or forward again, by a recorded journal.
    // These changes are not recorded themselves. False when the document
    // refused a step (it was changed behind the journal's back).
    bool undo(const Journal &journal);
    bool redo(const Journal &journal);

private:
    bool apply(const JournalEntry &entry, bool forward);

    void nodeInserted(const XmlNode &parent, const XmlNode &node, const XmlNode &nextSibling) override;
    void nodeRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &formerNextSibling) override;
    void nodeRenamed(const XmlNode &node, const QString &oldName) override;
    void textChanged(const XmlNode &node, const QString &oldText) override;
    void documentReplaced() override;

    XmlDocument *m_document = nullptr;
    Journal m_pending;
    bool m_replaying = false;
};
