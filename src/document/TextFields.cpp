#include "TextFields.h"

#include <QKeyEvent>

bool isHistoryKey(const QKeyEvent *key)
{
    return key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo)
        || (key->modifiers() == Qt::ControlModifier && key->key() == Qt::Key_Y);
}

bool leaveHistoryKeyToWindow(QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride || !isHistoryKey(static_cast<QKeyEvent *>(event)))
        return false;
    event->ignore();
    return true;
}

bool HistoryLineEdit::event(QEvent *event)
{
    if (leaveHistoryKeyToWindow(event))
        return false;
    return QLineEdit::event(event);
}
