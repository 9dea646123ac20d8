#pragma once

#include <QString>

#include <functional>
#include <memory>

class DocumentHost;
class XmlDocument;

// The life of a window's document: New, Open, Reload, Save, Save As, Close,
// the question whether to save, the modified flag, the caption, backups and
// style-sheet copies.
class DocumentLifecycle
{
public:
    static QString newFileName() { return QStringLiteral("New XML File"); }

    explicit DocumentLifecycle(DocumentHost &host) : m_host(host) {}

    // The caption for a file name (its last path part is shown); an empty
    // name without a document gives the title alone.
    static QString caption(const QString &fileName, bool dirty, bool readOnly, bool hasDocument);
    // "YYYYMMDDHHmmSS.bak" in `folder`, made unique with "-2", "-3", ...
    // when taken, and never `source` itself.
    static QString backupPath(const QString &folder, const QString &source);

    // True when the window may go on: nothing to save, saved, or not wanted.
    bool QuerySave();
    void ClearStatus();
    // Loads a file; on failure says why and leaves the window's document as
    // it was. Does not set the caption (UpdateStatus does). A long load
    // shows its progress; cancelled, or refused for want of memory, it
    // changes nothing at all and says nothing. `beforeReplacing` runs once
    // the file is read and is not cancelled, before the window changes.
    // `remember`: the file becomes a recent file (not so File > New's
    // template, which is no file of the user's).
    bool OpenFile(const QString &path, const std::function<void()> &beforeReplacing = {}, bool remember = true);
    // True when the last OpenFile or SaveFile was cancelled by the user.
    bool wasCancelled() const { return m_cancelled; }
    // Shows a recovery copy as the unsaved document of `sourcePath` (empty:
    // a new document). False, with the reason, when the copy does not load.
    bool Recover(const QString &copyPath, const QString &sourcePath, QString *error);
    void LoadXML(const QString &text);
    // Writes the document; on failure reports the reason and changes no flag.
    bool SaveFile(const QString &path);
    void UpdateStatus(const QString &path);
    // The caption and the commands after the modified mark changed; unlike
    // UpdateStatus the preview stays as it is (rendering it anew can take
    // most of a second on a large document).
    void UpdateCaption();
    void DocumentModified();
    void ResetUndo();

    // Commands.
    void mnuFileNew_Click();
    void mnuFileOpen_Click();
    void mnuFileReload_Click();
    void mnuFileSave_Click();
    void mnuFileSaveAs_Click();
    void mnuFileClose_Click();
    void openRecentFile(const QString &path);

    // Enabled states of the File menu's items.
    bool canSave() const;
    bool canReload() const;

private:
    void copyStyleSheets(const QString &documentPath);
    // A copy of the file at `path` that a write in place could spoil: the
    // backup taken at open when it is the window's file, else a new one.
    QString backupBeforeInPlaceWrite(const QString &path);
    // The buttons of commands on a whole document: save, print, preview, find, verify.
    void enableDocumentButtons();
    // Makes `document` the window's and shows its first levels.
    void showDocument(std::unique_ptr<XmlDocument> document);
    // True when a file of `size` bytes may be loaded: the memory it needs is
    // there, or the user wants to go on anyway.
    bool enoughMemoryFor(qint64 size);
    // A progress report for loading or saving `path` (`text`: the string
    // table entry), which records a cancel in m_cancelled.
    std::function<bool(qint64, qint64)> progressFor(int text, const QString &path);

    DocumentHost &m_host;
    bool m_cancelled = false;
};
