#pragma once

#include <QPlainTextEdit>

// The value pane. Its text is exchanged with CR LF line ends, as the
// document routines expect; the widget itself holds plain lines.
class ValuePane : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit ValuePane(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const;
    // Locked: the user cannot change the text.
    void setLocked(bool locked) { setReadOnly(locked); }
    bool isLocked() const { return isReadOnly(); }

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
