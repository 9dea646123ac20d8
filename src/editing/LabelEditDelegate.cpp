#include "LabelEditDelegate.h"

#include "NodeEditor.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>

LabelEditDelegate::LabelEditDelegate(NodeEditor &editor, QObject *parent)
    : QStyledItemDelegate(parent), m_editor(editor)
{
}

QWidget *LabelEditDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const
{
    if (!m_editor.tvw_BeforeLabelEdit(index))
        return nullptr;
    auto *line = new QLineEdit(parent);
    line->setObjectName(QStringLiteral("tvwLabelEdit"));
    line->setFrame(true);
    return line;
}

void LabelEditDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *line = qobject_cast<QLineEdit *>(editor);
    if (!line)
        return;
    // Set once, when the editor opens: the label changing under an open
    // editor must not replace what the user is typing.
    if (line->property("filled").toBool())
        return;
    line->setProperty("filled", true);
    line->setText(m_editor.labelEditText(index));
    line->selectAll();
}

void LabelEditDelegate::setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &index) const
{
    if (!m_ending || m_ending != editor)
        return;
    m_ending = nullptr;
    auto *line = qobject_cast<QLineEdit *>(editor);
    if (!line)
        return;
    // Applied once: the focus leaving it later is no second commit.
    line->setProperty("ended", true);
    if (m_editor.tvw_AfterLabelEdit(index, line->text()))
        return;
    // A refusal's message took the focus; when it goes, the focus would
    // return to the closed editor and pass on to the next widget (the path
    // box). It belongs to the tree, on the item that was edited.
    if (auto *view = qobject_cast<QAbstractItemView *>(editor->parentWidget() ? editor->parentWidget()->parentWidget() : nullptr)) {
        if (index.isValid())
            view->setCurrentIndex(index);
        view->setFocus();
    }
}

bool LabelEditDelegate::eventFilter(QObject *object, QEvent *event)
{
    auto *editor = qobject_cast<QWidget *>(object);
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // Tab would go on to edit the next item's label.
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab)
            return true;
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            m_ending = editor;
        else if (key == Qt::Key_Escape)
            m_ending = nullptr;
        return QStyledItemDelegate::eventFilter(object, event);
    }
    if (event->type() != QEvent::FocusOut)
        return QStyledItemDelegate::eventFilter(object, event);
    // The focus leaving commits at once (unless it stays inside the editor).
    m_ending = editor && !editor->property("ended").toBool() ? editor : nullptr;
    const bool handled = QStyledItemDelegate::eventFilter(object, event);
    if (m_ending == editor)
        m_ending = nullptr;
    return handled;
}
