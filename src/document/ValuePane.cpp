#include "ValuePane.h"

#include <QKeyEvent>

ValuePane::ValuePane(QWidget *parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("txtEdit"));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    // Undo belongs to the document's history, not to the text box.
    setUndoRedoEnabled(false);
}

bool ValuePane::event(QEvent *event)
{
    // Leave Ctrl+Z and Ctrl+Y to the window's Undo and Redo.
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo)
            || (key->modifiers() == Qt::ControlModifier && key->key() == Qt::Key_Y)) {
            event->ignore();
            return false;
        }
    }
    return QPlainTextEdit::event(event);
}

void ValuePane::keyPressEvent(QKeyEvent *event)
{
    // Ctrl+A, and only Ctrl+A, selects the whole text.
    if (event->key() == Qt::Key_A && (event->modifiers() & ~Qt::KeypadModifier) != Qt::ControlModifier
        && (event->modifiers() & Qt::ControlModifier)) {
        event->ignore();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void ValuePane::setText(const QString &text)
{
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    setPlainText(lines);
}

QString ValuePane::text() const
{
    QString result = toPlainText();
    result.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return result;
}
