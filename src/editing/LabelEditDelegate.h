#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

#include <functional>

class NodeEditor;

// The tree's in-place label editor. Whatever starts an edit (Rename, the add
// commands, a click on the selected item, F2 in the tree), the node editor
// decides whether it may start and applies what was typed; the model's own
// data is never written by the editor.
//
// Only the user ends an edit with its text: Enter, or the focus leaving
// the editor. The view also asks for the text when its current item moves
// (an undo, a deletion from the toolbar); applying it then would change the
// document in the middle of another change, so the edit is dropped.
class LabelEditDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    LabelEditDelegate(NodeEditor &editor, QObject *parent = nullptr);

    // Names to offer in a list under the editor of an item (none: no list).
    // Typing filters the list; Enter or a click on a name ends the edit
    // with it.
    void setNameOffer(std::function<QStringList(const QModelIndex &)> offer) { m_offer = std::move(offer); }

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    NodeEditor &m_editor;
    // The editor the user is ending; Enter's commit arrives queued.
    mutable QPointer<QWidget> m_ending;
    std::function<QStringList(const QModelIndex &)> m_offer;
};
