#pragma once

#include "UndoJournal.h"
#include "clsUndoRedo.h"

#include <QObject>

#include <memory>

class DocumentHost;
class DocumentLifecycle;

// Undo, Redo and Undo All for one window. Every change between two
// DocumentModified calls is one step; undo replays its journal backwards,
// redo forwards, and the tree follows the document. Each step also keeps
// the tree items its changes opened or closed (an expanded item that is
// removed closes) and the item then selected; undo and redo set those
// items back in one layout of the tree.
class UndoController : public QObject
{
    Q_OBJECT
public:
    UndoController(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent = nullptr);

    // The window's document changed object (or went): the history starts
    // over for the new one.
    void documentChanged();
    // A new history whose present state is the document as it is now.
    void ResetUndo();
    // Record the changes made since the last step as a new step.
    void record();
    // The document was opened, saved or recovered: an unmodified document
    // is what its file holds, so its present step becomes the save point.
    void documentStateChanged();

    void DoUndo();
    void DoRedo();
    void UndoAll();

    bool CanUndo() const { return m_Undo && m_Undo->CanUndo(); }
    bool CanRedo() const { return m_Undo && m_Undo->CanRedo(); }
    bool canUndoAll() const;
    const clsUndoRedo *history() const { return m_Undo.get(); }

signals:
    // What can be undone or redone may have changed.
    void historyChanged();

private:
    std::shared_ptr<clsUndoInfo> snapshot(Journal journal);
    // Sets the items `expansions` touched to their state before (after, when
    // `forward`) and selects the item `selected` recorded.
    void restore(const clsUndoInfo::Expansions &expansions, bool forward, const clsUndoInfo &selected);
    void noteExpansion(const XmlNode &node, bool before, bool after);
    void viewToggled(const QModelIndex &index, bool expanded);
    void rowsGoing(const QModelIndex &parent, int first, int last);
    void showSelected();
    // After an undo or redo the window is modified exactly when the present
    // step is not the one last saved or opened.
    void followSavePoint();

    DocumentHost &m_host;
    DocumentLifecycle &m_lifecycle;
    std::unique_ptr<clsUndoRedo> m_Undo;
    UndoJournal m_journal;
    // Items opened or closed by the change not yet recorded.
    clsUndoInfo::Expansions m_expansions;
    // Undo or redo is setting the document and the tree back: what they do
    // is no change of its own.
    bool m_restoring = false;
    // Gone once the history drops that step: no undo or redo reaches it.
    std::weak_ptr<clsUndoInfo> m_savePoint;
};
