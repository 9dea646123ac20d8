#include "LabelEditDelegate.h"

#include "NodeEditor.h"

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
    if (!m_userEnds)
        return;
    if (auto *line = qobject_cast<QLineEdit *>(editor))
        m_editor.tvw_AfterLabelEdit(index, line->text());
}

bool LabelEditDelegate::eventFilter(QObject *object, QEvent *event)
{
    bool ends = event->type() == QEvent::FocusOut;
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // Tab would go on to edit the next item's label.
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab)
            return true;
        ends = key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    m_userEnds = ends;
    const bool handled = QStyledItemDelegate::eventFilter(object, event);
    m_userEnds = false;
    return handled;
}
