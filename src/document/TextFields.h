#pragma once

#include <QLineEdit>
#include <QMimeData>

class QEvent;
class QKeyEvent;

// The format a node dragged out of a tree travels in (beside plain text).
// Only a tree takes it: a text field that took the markup would report a
// move, and the source would delete the node.
QString nodeDragFormat();
// True when `data` carries a dragged node.
bool carriesNode(const QMimeData *data);

// Qt 6.4 crashes when a text view is handed mime data without any format,
// which is what pasting from an empty X11 clipboard does. Every
// QPlainTextEdit and QTextEdit of the editor derives through this guard: it
// takes plain text only, and an empty or non-text clipboard pastes nothing.
template <typename TextView>
class PasteGuarded : public TextView
{
public:
    using TextView::TextView;

protected:
    bool canInsertFromMimeData(const QMimeData *source) const override
    {
        return source && source->hasText() && !carriesNode(source);
    }
    void insertFromMimeData(const QMimeData *source) override
    {
        if (!source || !source->hasText())
            return;
        const QString text = source->text();
        if (!text.isEmpty())
            this->insertPlainText(text);
    }
};

// Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y: the window's Undo and Redo.
bool isHistoryKey(const QKeyEvent *key);

// For a text field's event(): true when `event` asks whether the field
// wants one of the history keys, which belong to the window's history and
// not to the field's own typing. The event is then left unanswered.
bool leaveHistoryKeyToWindow(QEvent *event);

// A one-line text field whose Ctrl+Z and Ctrl+Y run the window's history,
// and which refuses dragged nodes.
class HistoryLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

protected:
    bool event(QEvent *event) override;
};
