#pragma once

#include <QTextBrowser>

#include <memory>

class SourceSink;

// The pane's built-in view: a document made by a SourceView walk,
// drawn by Qt's own text layout, without a browser engine behind it. A
// click on a toggle folds or unfolds its body; a click on an element name
// reports the name's id. Text can be selected and copied.
class SourceViewer : public QTextBrowser
{
    Q_OBJECT
public:
    explicit SourceViewer(QWidget *parent = nullptr);

    // What fills `document` with the view, in the given face.
    static std::unique_ptr<SourceSink> sinkFor(QTextDocument *document, const QString &fontName, int fontSize);

    // Folds or unfolds the line of `block`, which holds a toggle; false
    // for any other line.
    bool toggle(const QTextBlock &block);
    // Where the name with `id` is drawn, in the viewport; empty when it is
    // not shown.
    QRect nameRect(const QString &id) const;

signals:
    void clicked(const QString &id);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    // The character drawn at `pos` in the viewport; -1 where there is none.
    int positionAt(const QPoint &pos) const;
    QTextCharFormat formatAt(int position, QTextBlock *block = nullptr) const;

    QPoint m_pressedAt;
};
