#include "LabelEditDelegate.h"

#include "NodeEditor.h"
#include "document/PopupClicks.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStringListModel>
#include <QTimer>

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
    const QStringList names = m_offer ? m_offer(index) : QStringList();
    if (names.isEmpty())
        return;
    auto *completer = new QCompleter(names, line);
    completer->setObjectName(QStringLiteral("tvwLabelNames"));
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    completer->setMaxVisibleItems(12);
    completer->setWidget(line);
    passOnClicksOutside(completer->popup());
    // Every name at first, the current one chosen; what is typed then
    // narrows the list.
    completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    QObject::connect(line, &QLineEdit::textEdited, completer, [completer](const QString &typed) {
        completer->setCompletionMode(QCompleter::PopupCompletion);
        completer->setCompletionPrefix(typed);
        if (completer->completionCount() > 0)
            completer->complete();
        else
            completer->popup()->hide();
    });
    QObject::connect(completer, qOverload<const QString &>(&QCompleter::activated), line, [this, line](const QString &name) {
        if (line->property("ended").toBool())
            return;
        line->setText(name);
        m_ending = line;
        emit const_cast<LabelEditDelegate *>(this)->commitData(line);
        emit const_cast<LabelEditDelegate *>(this)->closeEditor(line);
    });
    // Shown once the editor stands in its place.
    QTimer::singleShot(0, line, [completer, line] {
        if (!line->isVisible() || line->property("ended").toBool())
            return;
        completer->setCompletionPrefix(QString());
        completer->complete();
        completer->popup()->setCurrentIndex(completer->completionModel()->index(0, 0));
    });
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
    // The list of names opening under the editor keeps the edit going.
    if (auto *names = editor ? editor->findChild<QCompleter *>() : nullptr; names && names->popup()->isVisible())
        return false;
    // The focus leaving commits at once (unless it stays inside the editor).
    m_ending = editor && !editor->property("ended").toBool() ? editor : nullptr;
    const bool handled = QStyledItemDelegate::eventFilter(object, event);
    if (m_ending == editor)
        m_ending = nullptr;
    return handled;
}
