#include "UndoController.h"

#include "document/NodeTreeView.h"
#include "document/DocumentHost.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "xml/XmlDocument.h"


#include <utility>
#include <vector>

UndoController::UndoController(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent)
    : QObject(parent), m_host(host), m_lifecycle(lifecycle)
{
    NodeTreeView *tvw = m_host.tvw();
    DocumentTreeModel *model = &m_host.model();
    connect(tvw, &NodeTreeView::expanded, this, [this](const QModelIndex &i) { viewToggled(i, true); });
    connect(tvw, &NodeTreeView::collapsed, this, [this](const QModelIndex &i) { viewToggled(i, false); });
    // The view drops the expanded state of removed rows without a word.
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, &UndoController::rowsGoing);
}

void UndoController::noteExpansion(const XmlNode &node, bool before, bool after)
{
    const auto found = m_expansions.find(node);
    if (found == m_expansions.end())
        m_expansions.insert(node, {before, after});
    else
        found->after = after;
}

void UndoController::viewToggled(const QModelIndex &index, bool expanded)
{
    // Opening or closing items between changes is the user's view, not a
    // change; only what a change does while it is made is recorded.
    if (!m_restoring && m_journal.hasPending())
        noteExpansion(m_host.model().nodeAt(index), !expanded, expanded);
}

void UndoController::rowsGoing(const QModelIndex &parent, int first, int last)
{
    if (m_restoring)
        return;
    const DocumentTreeModel &model = m_host.model();
    const NodeTreeView *tvw = m_host.tvw();
    for (int row = first; row <= last; ++row)
        for (const void *item : tvw->openUnder(model.index(row, 0, parent)))
            noteExpansion(model.nodeAt(model.indexOfItem(item)), true, false);
}

void UndoController::documentChanged()
{
    m_journal.attach(m_host.dom());
    m_Undo.reset();
    m_expansions.clear();
    emit historyChanged();
}

std::shared_ptr<clsUndoInfo> UndoController::snapshot(Journal journal)
{
    auto info = std::make_shared<clsUndoInfo>();
    info->setJournal(std::move(journal));
    info->setExpansions(std::exchange(m_expansions, {}));
    const QModelIndex selected = m_host.selection().selectedItem();
    info->setSelectedNode(m_host.model().nodeAt(selected));
    info->setNodeKey(m_host.model().keyAt(selected));
    return info;
}

void UndoController::ResetUndo()
{
    if (m_journal.document() != m_host.dom())
        m_journal.attach(m_host.dom());
    m_journal.take();
    m_expansions.clear();
    m_Undo = std::make_unique<clsUndoRedo>();
    if (!m_host.dom())
        return;
    auto info = std::make_shared<clsUndoInfo>();
    const QModelIndex top = m_host.model().documentIndex();
    info->setNodeKey(m_host.model().keyAt(top));
    m_Undo->Action(info);
    m_savePoint.reset();
    documentStateChanged();
    emit historyChanged();
}

void UndoController::documentStateChanged()
{
    if (m_Undo && !m_host.flags().m_Dirty)
        m_savePoint = m_Undo->current();
}

void UndoController::followSavePoint()
{
    const bool dirty = m_Undo->current() != m_savePoint.lock();
    if (dirty != m_host.flags().m_Dirty) {
        m_host.flags().m_Dirty = dirty;
        m_lifecycle.UpdateCaption();
    }
}

void UndoController::record()
{
    if (!m_host.dom())
        return;
    if (m_journal.document() != m_host.dom())
        m_journal.attach(m_host.dom());
    if (!m_Undo)
        m_Undo = std::make_unique<clsUndoRedo>();
    m_Undo->Action(snapshot(m_journal.take()));
    m_host.setButtonEnabled(QStringLiteral("undo"), true);
    emit historyChanged();
}

namespace {
constexpr int kInPlaceExpansions = 16;
}

void UndoController::restore(const clsUndoInfo::Expansions &expansions, bool forward, const clsUndoInfo &info)
{
    NodeTreeView *tvw = m_host.tvw();
    DocumentTreeModel &model = m_host.model();
    // A few items are opened or closed in place, each moving the rows below
    // it; many are only marked while a layout is pending, and the tree is
    // laid out once for all of them.
    if (expansions.size() > kInPlaceExpansions)
        tvw->deferLayout();
    for (auto it = expansions.cbegin(); it != expansions.cend(); ++it)
        if (it.key().isDocument() || it.key().isAttached())
            tvw->setExpanded(model.indexForNode(it.key()), forward ? it->after : it->before);
    const XmlNode selected = info.selectedNode();
    if (selected && (selected.isDocument() || selected.isAttached()))
        m_host.selection().setSelectedItem(model.indexForNode(selected));
    else if (!m_host.selection().selectedItem().isValid())
        m_host.selection().setSelectedItem(model.documentIndex());
    tvw->setUpdatesEnabled(true);
    tvw->setFocus();
}

void UndoController::showSelected()
{
    m_host.selection().ShowNode(m_host.selection().selectedItem(), true);
}

void UndoController::DoUndo()
{
    if (!m_Undo)
        m_Undo = std::make_unique<clsUndoRedo>();
    const clsUndoRedo::Step leaving = m_Undo->current();
    if (const clsUndoRedo::Step step = m_Undo->Undo()) {
        // Changes not yet recorded belong to the state being left. The
        // step's journal is undone where it lies: a large step is not copied.
        leaving->appendJournal(m_journal.take());
        leaving->addExpansions(std::exchange(m_expansions, {}));
        m_restoring = true;
        m_host.tvw()->setUpdatesEnabled(false);
        m_journal.undo(leaving->journal());
        restore(leaving->expansions(), false, *step);
        showSelected();
        m_restoring = false;
        followSavePoint();
    } else {
        showSelected();
    }
    m_host.setButtonEnabled(QStringLiteral("undo"), m_Undo->CanUndo());
    m_host.setButtonEnabled(QStringLiteral("redo"), true);
    emit historyChanged();
}

void UndoController::DoRedo()
{
    if (!m_Undo)
        m_Undo = std::make_unique<clsUndoRedo>();
    if (const clsUndoRedo::Step step = m_Undo->Redo()) {
        m_restoring = true;
        m_host.tvw()->setUpdatesEnabled(false);
        m_journal.redo(step->journal());
        restore(step->expansions(), true, *step);
        showSelected();
        m_restoring = false;
        followSavePoint();
    } else {
        showSelected();
    }
    m_host.setButtonEnabled(QStringLiteral("redo"), m_Undo->CanRedo());
    m_host.setButtonEnabled(QStringLiteral("undo"), true);
    emit historyChanged();
}

bool UndoController::canUndoAll() const
{
    return !m_host.flags().m_BackupPath.isEmpty() && m_host.flags().m_Dirty;
}

void UndoController::UndoAll()
{
    if (!canUndoAll())
        return;
    if (m_host.prompt().message(QStringLiteral("変更は全て失われます。よろしいですか？"), Prompt::Icon::Question,
                                Prompt::Buttons::YesNo, true)
        != Prompt::Answer::Yes)
        return;
    const QString fileName = m_host.flags().m_FileName;
    // Reopening the backup is no new file: a document that had none (a new
    // one from the template) still has none, and Save asks for a name.
    const bool hadFile = m_host.flags().m_HasFile;
    if (!m_lifecycle.OpenFile(m_host.flags().m_BackupPath))
        return;
    m_host.flags().m_HasFile = hadFile;
    m_host.flags().m_Dirty = true;
    // The backup is not what the file holds now.
    m_savePoint.reset();
    m_lifecycle.UpdateStatus(fileName);
}
