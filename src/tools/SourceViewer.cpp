#include "SourceViewer.h"

#include "PreviewHtml.h"

#include <QAbstractTextDocumentLayout>
#include <QFontInfo>
#include <QHash>
#include <QMouseEvent>
#include <QPalette>
#include <QScrollBar>
#include <QStack>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>

namespace {

// The colours and faces of the view's classes, as its page's style block
// gives them.
QHash<QByteArray, QTextCharFormat> classFormats(const QFont &font)
{
    const auto coloured = [](const char *colour, bool bold = false) {
        QTextCharFormat f;
        f.setForeground(QColor(QLatin1String(colour)));
        if (bold)
            f.setFontWeight(QFont::Bold);
        return f;
    };
    QHash<QByteArray, QTextCharFormat> formats{
        {"b", coloured("red", true)},   {"t", coloured("#990000")}, {"xt", coloured("#990099")}, {"ns", coloured("red")},
        {"dt", coloured("green")},      {"m", coloured("blue")},    {"d", coloured("blue")},     {"pi", coloured("blue")},
        {"ci", coloured("#888888")},    {"cb", coloured("#888888")}, {"di", {}},                 {"db", {}},
    };
    formats["tx"].setFontWeight(QFont::Bold);
    formats["cb"].setFontPointSize(font.pointSizeF() * 0.85);
    return formats;
}

// Lines as blocks with a hanging indent of one em per level; a fold's line
// keeps the number of blocks it folds.
class DocumentSink : public SourceSink
{
public:
    DocumentSink(QTextDocument *document, const QFont &font)
        : m_document(document), m_cursor(document), m_em(QFontInfo(font).pixelSize()), m_formats(classFormats(font))
    {
        document->setUndoRedoEnabled(false);
        document->setDefaultFont(font);
        document->setDocumentMargin(8);
        m_toggle = classFormat("b");
        m_toggle.setProperty(sourceview::Toggle, true);
    }

    void beginLine(const char *, bool spacer) override
    {
        ++m_depth;
        newBlock(m_depth * m_em, -m_em);
        if (spacer)
            m_cursor.insertText(QString(QChar::Nbsp), classFormat("b"));
    }
    void endLine() override { --m_depth; }
    void beginFold(const char *) override
    {
        ++m_depth;
        newBlock(m_depth * m_em, -m_em);
        m_cursor.insertText(QStringLiteral("-"), m_toggle);
        m_cursor.insertText(QStringLiteral(" "), QTextCharFormat());
        m_folds.push(m_cursor.block().blockNumber());
    }
    void beginBody() override {}
    void beginClosing(bool spacer) override
    {
        newBlock(m_depth * m_em, -m_em);
        if (spacer)
            m_cursor.insertText(QString(QChar::Nbsp), classFormat("b"));
    }
    void endFold() override
    {
        const int line = m_folds.pop();
        m_document->findBlockByNumber(line).setUserState(m_cursor.block().blockNumber() - line);
        --m_depth;
    }
    void run(const char *cls, const QString &text, const QString &id) override
    {
        QTextCharFormat format = classFormat(cls);
        if (!id.isEmpty())
            format.setProperty(sourceview::NodeId, id);
        m_cursor.insertText(flowing(text), format);
    }
    void plain(const QString &text) override { m_cursor.insertText(flowing(text), QTextCharFormat()); }
    void preformatted(const char *cls, const QString &text) override
    {
        QString kept = text;
        kept.replace(QLatin1Char('\n'), QChar::LineSeparator).remove(QLatin1Char('\r'));
        if (qstrcmp(cls, "cb") == 0 || qstrcmp(cls, "db") == 0)
            newBlock(m_depth * m_em + m_em + m_em * 0.3, 0);
        m_cursor.insertText(kept, classFormat(cls));
    }
    void doctype(const QString &name) override
    {
        QTextCharFormat format = classFormat("d");
        m_cursor.insertText(QStringLiteral("<!DOCTYPE ") + flowing(name), format);
        format.setFontItalic(true);
        m_cursor.insertText(QStringLiteral(" (View Source for full doctype...)"), format);
        m_cursor.insertText(QStringLiteral(">"), classFormat("d"));
    }
    void note(const QString &text) override
    {
        QTextFrameFormat box;
        box.setBorder(1);
        box.setBorderBrush(QColor(QStringLiteral("#CCCCCC")));
        box.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        box.setMargin(m_em);
        box.setPadding(m_em / 2);
        box.setBackground(QColor(QStringLiteral("#FFFFEE")));
        m_cursor.insertFrame(box);
        m_cursor.insertText(text, QTextCharFormat());
    }

private:
    void newBlock(qreal left, qreal indent)
    {
        QTextBlockFormat format;
        format.setLeftMargin(left);
        format.setTextIndent(indent);
        format.setRightMargin(m_em);
        if (m_first)
            m_cursor.setBlockFormat(format);
        else
            m_cursor.insertBlock(format, QTextCharFormat());
        m_first = false;
    }
    // White space flows as in a page: a run of it is one blank. Most runs
    // have none to fold, and are taken as they are.
    static QString flowing(const QString &text)
    {
        const auto isSpace = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; };
        bool folds = false;
        for (qsizetype i = 0; i < text.size() && !folds; ++i)
            folds = isSpace(text[i]) && (text[i] != u' ' || (i > 0 && isSpace(text[i - 1])));
        if (!folds)
            return text;
        QString out;
        bool blank = false;
        for (const QChar c : text) {
            const bool space = isSpace(c);
            if (!space || !blank)
                out += space ? QChar(u' ') : c;
            blank = space;
        }
        return out;
    }
    QTextCharFormat classFormat(const char *cls) const { return m_formats.value(QByteArray::fromRawData(cls, qstrlen(cls))); }

    QTextDocument *m_document;
    QTextCursor m_cursor;
    qreal m_em;
    QHash<QByteArray, QTextCharFormat> m_formats;
    QTextCharFormat m_toggle;
    QStack<int> m_folds;
    int m_depth = 0;
    bool m_first = true;
};

} // namespace

std::unique_ptr<SourceSink> SourceViewer::sinkFor(QTextDocument *document, const QString &fontName, int fontSize)
{
    QFont font(fontName);
    font.setPointSize(fontSize);
    return std::make_unique<DocumentSink>(document, font);
}

SourceViewer::SourceViewer(QWidget *parent) : QTextBrowser(parent)
{
    setObjectName(QStringLiteral("sourceView"));
    setOpenLinks(false);
    setUndoRedoEnabled(false);
    // A file dropped here goes to the window, as anywhere else in it.
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    viewport()->setMouseTracking(true);
    // The view's colours are chosen for a white page, whatever the theme.
    QPalette page = palette();
    page.setColor(QPalette::Base, Qt::white);
    page.setColor(QPalette::Text, Qt::black);
    setPalette(page);
}

int SourceViewer::positionAt(const QPoint &pos) const
{
    const QPointF at = QPointF(pos) + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
    return document()->documentLayout()->hitTest(at, Qt::ExactHit);
}

QTextCharFormat SourceViewer::formatAt(int position, QTextBlock *found) const
{
    const QTextBlock block = document()->findBlock(position);
    if (found)
        *found = block;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.contains(position))
            return fragment.charFormat();
    }
    return {};
}

bool SourceViewer::toggle(const QTextBlock &line)
{
    const int folded = line.userState();
    if (folded < 0 || line.length() < 2)
        return false;
    QTextCursor mark(document());
    mark.setPosition(line.position());
    mark.setPosition(line.position() + 1, QTextCursor::KeepAnchor);
    const bool fold = mark.selectedText() == QLatin1String("-");
    const QTextCharFormat format = formatAt(line.position());
    mark.insertText(fold ? QStringLiteral("+") : QStringLiteral("-"), format);
    // Unfolding leaves a fold inside that is folded itself as it was.
    QTextBlock block = line.next();
    for (int left = folded; left > 0 && block.isValid();) {
        block.setVisible(!fold);
        --left;
        const int inner = !fold && block.text().startsWith(QLatin1Char('+')) ? block.userState() : 0;
        block = block.next();
        for (int skip = inner; skip > 0 && left > 0 && block.isValid(); --skip, --left)
            block = block.next();
    }
    const int end = block.isValid() ? block.position() : document()->characterCount();
    document()->markContentsDirty(line.position(), end - line.position());
    viewport()->update();
    return true;
}

QRect SourceViewer::nameRect(const QString &id) const
{
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (!block.isVisible())
            continue;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().property(sourceview::NodeId).toString() != id)
                continue;
            QTextCursor c(document());
            c.setPosition(fragment.position());
            QRect r = cursorRect(c);
            c.setPosition(fragment.position() + fragment.length());
            r.setRight(cursorRect(c).left());
            return r;
        }
    }
    return {};
}

void SourceViewer::mousePressEvent(QMouseEvent *event)
{
    m_pressedAt = event->position().toPoint();
    QTextBrowser::mousePressEvent(event);
}

void SourceViewer::mouseReleaseEvent(QMouseEvent *event)
{
    QTextBrowser::mouseReleaseEvent(event);
    // A click, not the end of a selection drawn with the mouse.
    if (event->button() != Qt::LeftButton || (event->position().toPoint() - m_pressedAt).manhattanLength() > 3)
        return;
    const int position = positionAt(event->position().toPoint());
    if (position < 0)
        return;
    QTextBlock block;
    const QTextCharFormat format = formatAt(position, &block);
    if (format.hasProperty(sourceview::Toggle))
        toggle(block);
    else if (format.hasProperty(sourceview::NodeId))
        emit clicked(format.property(sourceview::NodeId).toString());
}

void SourceViewer::mouseMoveEvent(QMouseEvent *event)
{
    QTextBrowser::mouseMoveEvent(event);
    const int position = positionAt(event->position().toPoint());
    const QTextCharFormat format = position < 0 ? QTextCharFormat() : formatAt(position);
    const bool clickable = format.hasProperty(sourceview::Toggle) || format.hasProperty(sourceview::NodeId);
    viewport()->setCursor(clickable ? Qt::PointingHandCursor : Qt::IBeamCursor);
}
