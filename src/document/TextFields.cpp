#include "TextFields.h"

#include <QDropEvent>
#include <QKeyEvent>

QString nodeDragFormat()
{
    return QStringLiteral("application/x-ostrel-node");
}

bool carriesNode(const QMimeData *data)
{
    return data && data->hasFormat(nodeDragFormat());
}

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
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        if (carriesNode(static_cast<QDropEvent *>(event)->mimeData())) {
            event->ignore();
            return true;
        }
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}
