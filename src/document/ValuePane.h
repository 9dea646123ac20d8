#pragma once

#include "TextFields.h"

#include <QPlainTextEdit>
#include <QStringList>

class QCompleter;

// The value pane. It holds the selected node's value exactly: characters
// the text view would turn into something else (a no-break space, a line or
// paragraph separator, a lone CR) come back as they were set unless the
// user edits them. Line breaks typed by the user are LF.
class ValuePane : public PasteGuarded<QPlainTextEdit>
{
    Q_OBJECT
public:
    explicit ValuePane(QWidget *parent = nullptr);

    // The value with LF line ends, as the document holds it.
    void setValue(const QString &value);
    QString value() const { return m_value; }
    // The same with CR LF line ends, as the document routines exchange it.
    void setText(const QString &text);
    QString text() const;
    // Locked: the user cannot change the text.
    void setLocked(bool locked) { setReadOnly(locked); }
    bool isLocked() const { return isReadOnly(); }
    // Values to offer in a list while the pane has the focus (none: no
    // list). Typing narrows the list; a value taken replaces the text, and
    // a typed value stays as typed.
    void setOffered(const QStringList &values);
    QCompleter *offered() const { return m_values; }

signals:
    // The user changed the value. Writes by the program, and input-method
    // composition that leaves the text as it was, do not count.
    void valueEdited();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    void onTextChanged();
    void offer(const QString &typed);
    void take(const QString &value);
    // Where the list opens, in the pane's coordinates.
    QRect listPlace() const;

    QString m_value;
    // What the text view holds, one character for each of m_value's.
    QString m_shown;
    bool m_filling = false;
    QCompleter *m_values = nullptr;
};
