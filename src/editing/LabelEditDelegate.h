#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

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

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    NodeEditor &m_editor;
    // The editor the user is ending; Enter's commit arrives queued.
    mutable QPointer<QWidget> m_ending;
};
