#pragma once

#include "xml/XmlNode.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

class QDataStream;
class XmlDocument;

// What tells that a file still holds the bytes a journal starts from.
struct FileIdentity
{
    QString path; // absolute
    qint64 size = -1;
    qint64 modifiedNs = 0;
    QByteArray hash; // SHA-256 of the bytes

    // Size and modification time as the file stands now (no hash): a file
    // that cannot be read has size -1.
    static FileIdentity stat(const QString &path);
    bool sameStat(const FileIdentity &other) const { return size == other.size && modifiedNs == other.modifiedNs; }
    // The hash of the file's bytes; empty when it cannot be read whole.
    static QByteArray hashOf(const QString &path);
};

// The changes of a document since its file was opened or saved, kept as
// records a copy of that file can replay: each names its node by its path
// from the document (positions among children or attributes), so the
// records stay small however large the document is. A node taken out of
// the tree is numbered in order of removal, so putting it back (a move, an
// undo) puts back the very node, as the document did.
class RecoveryJournal
{
public:
    // Forget what was recorded: the next record starts a new journal.
    void restart();

    // The document's changes, as its observers hear them. False when a
    // change cannot be replayed from records (the journal is then of no
    // use: only a whole copy keeps the document).
    bool inserted(const XmlDocument &document, const XmlNode &parent, const XmlNode &node, const XmlNode &next);
    bool removed(const XmlNode &parent, const XmlNode &node, const XmlNode &formerNext);
    bool renamed(const XmlNode &node);
    bool textChanged(const XmlNode &node, const QString &oldText);

    // Records not yet written, each framed by its length.
    QList<QByteArray> takePending();
    qint64 pendingSize() const { return m_pendingSize; }

    // The start of a journal file, naming the file it applies to.
    static QByteArray header(const FileIdentity &identity);
    // Loads the file a journal names into `document` and replays the
    // journal's records on it: false, with the reason, when the file no
    // longer holds the bytes it had or a record does not apply. A last
    // record cut short (the process died while writing it) is left out.
    static bool restore(XmlDocument &document, const QString &journalPath, QString *error);

    // A node's address, as records hold it.
    struct Path
    {
        qint32 root = -1; // -1: the document; otherwise a removed node's number
        QList<qint32> steps;
        bool attribute = false; // the last step counts attributes
    };

private:
    bool pathOf(XmlNode node, Path *path) const;
    int indexOf(const XmlNode &node) const;
    bool positionOf(const XmlNode &parent, const XmlNode &node, const XmlNode &next, bool inserted, Path *path) const;
    void append(const std::function<void(QDataStream &)> &write);
    QByteArray &pendingBlock();
    void frame(QByteArray &block, qsizetype start);

    QHash<XmlNode, qint32> m_removed;
    // The last child whose position was counted, by parent; forgotten when
    // the tree's structure changes.
    struct Counted
    {
        XmlNode child;
        int index = 0;
    };
    mutable QHash<XmlNode, Counted> m_counted;
    qint32 m_nextNumber = 0;
    // In blocks: one growing array would leave every size it grew through
    // on the heap, twice the records, for a change of many nodes.
    QList<QByteArray> m_pending;
    qint64 m_pendingSize = 0;

    friend QDataStream &operator<<(QDataStream &out, const Path &path);
    friend QDataStream &operator>>(QDataStream &in, Path &path);
    friend class JournalReplay;
};
