#pragma once

#include "RecoveryJournal.h"
#include "xml/XmlDocumentObserver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <future>

class DocumentHost;
class Prompt;
class QSocketNotifier;
class XmlDocument;

// Recovery copies: while a window holds unsaved changes, a copy of its
// document and the path of the file it belongs to are kept in a per-user
// folder that outlives the process. Each process keeps its copies in a
// folder of its own, locked for as long as the process lives, so a copy is
// an orphan exactly when nobody holds that lock any more.
namespace Recovery {

// $XDG_STATE_HOME/ostrel-edit/recovery (mode 0700), made when missing;
// empty when neither it nor a private fallback folder can be had.
QString root();

// Opens an orphaned copy (a whole copy, or a journal of the changes to
// its file) in a window: false, with the reason, when it cannot.
// `sourcePath` is the file it belongs to; empty for a new document.
using Restorer = std::function<bool(const QString &copyPath, const QString &sourcePath, QString *error)>;

// Asks about every copy whose process has ended, one question each: a yes
// restores it and then deletes it, a no deletes it. A copy that cannot be
// restored is reported with its path and kept. Copies being looked at are
// locked, so two starting editors never offer the same copy.
void offerOrphans(Prompt &prompt, const Restorer &restore);

} // namespace Recovery

// Keeps one window's recovery copy current. A document opened from a file
// (or saved to one) is kept as a journal of its changes since then
// (RecoveryJournal), appended and synced on each pause in typing, so the
// cost follows the change, not the document. A whole copy is written
// instead for a document without a file, once the journal would outgrow
// the file, when the file changed on disk, or after a change the journal
// cannot replay; it stays the copy until the document is saved again.
//
// A whole copy is written by a forked child process, from the document as
// it stands at the fork: the child has its own copy-on-write image of the
// tree, so the window goes on at once and nothing it does can change the
// tree being written. The fork itself stops the window while the kernel
// copies the page tables, hence the wait for a pause; the editor keeps its
// heap in huge pages (shell/HugePages.h), which makes that copy short even
// for the largest documents. A thread or a child sharing the memory (vfork,
// clone) would need the window to keep off the tree until the copy is
// written, and a copy of the tree made in the window first would stop it
// longer than the fork does. Memory: the tree is shared, not copied; the child adds its output
// (about the file's size) and the pages the window changes while it runs.
// The copy is written to a temporary file and renamed, so a crash during a
// write leaves the previous copy usable.
class RecoveryWriter : public QObject, private XmlDocumentObserver
{
    Q_OBJECT
public:
    explicit RecoveryWriter(DocumentHost &host, QObject *parent = nullptr);
    // Removes the copy: a window that ends on purpose leaves none.
    ~RecoveryWriter() override;

    // The window now holds `document` (null: none).
    void setDocument(XmlDocument *document);
    // The document was saved, opened, closed or modified: the copy is
    // brought up to date, or removed when nothing is unsaved.
    void stateChanged();

    // The window closes with unsaved changes without the user being asked:
    // the copy is brought up to date now and left for the next start.
    void keep();

    // Where the copy (or else the journal) is kept; empty while there is none.
    QString copyPath() const;

signals:
    // A copy of the document is complete on disk.
    void written();

private:
    void nodeInserted(const XmlNode &parent, const XmlNode &node, const XmlNode &next) override;
    void nodeRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &formerNext) override;
    void nodeRenamed(const XmlNode &node, const QString &) override;
    void textChanged(const XmlNode &node, const QString &oldText) override;
    void documentReplaced() override;

    // The document now matches its file: a new journal starts from it.
    void startJournal();
    // Whether the journal may go on after a change was (`ok`) or was not recorded.
    void noted(bool ok);
    void stopJournal();
    // Appends what was recorded to the journal file: false when the
    // journal cannot stand for the document any more.
    // Appends the pending records; synced unless `sync` is false.
    bool writeJournal(bool sync = true);
    bool hashReady() const;

    void schedule();
    void startDelay(qint64 ms);
    void write();
    // Names the copy and writes the name of its document's file.
    bool prepare();
    void childFinished();
    void stopChild();
    void releaseChild(); // reaps the child and closes what watched it
    void discard();

    DocumentHost &m_host;
    XmlDocument *m_document = nullptr;
    QTimer m_delay;
    // A change puts the write off; the timer is not restarted for each of
    // a replacement's many changes, but waits again when it fires early.
    QElapsedTimer m_clock;
    qint64 m_delayFires = 0; // on m_clock, while m_delay runs
    qint64 m_writeAt = 0;    // on m_clock
    QElapsedTimer m_pendingSince; // since the oldest change not yet being written
    QTimer m_watchdog; // a child that never finishes is stopped and the write tried again
    QString m_copyPath;   // <process folder>/<n>.xml
    QString m_sourceFile; // <process folder>/<n>.source: the document's file name
    QString m_sourceWritten;
    bool m_written = false;
    bool m_again = false; // changed while a child was writing
    RecoveryJournal m_journal;
    bool m_journalling = false;
    FileIdentity m_base;                // the file the journal starts from
    std::shared_future<QByteArray> m_hashing; // its hash, made beside the window
    qint64 m_journalBytes = 0;          // written to the journal file
    QString m_journalPath;              // <process folder>/<n>.journal
    int m_childPid = 0;
    int m_childPipe = -1;
    QSocketNotifier *m_childDone = nullptr;
};
