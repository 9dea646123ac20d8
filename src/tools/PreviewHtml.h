#pragma once

#include <QString>
#include <QTextFormat>

class XmlDocument;
class XmlNode;

// What the source view is made of, in the order it is read: lines (each a
// block of class "e", or "k" for comments and CDATA sections) and folds (a
// line with a toggle, a body, and a closing line; the toggle folds the body
// and the closing line away), each holding runs of text of one class.
class SourceSink
{
public:
    virtual ~SourceSink() = default;
    // `spacer` puts the room of a toggle before the line's text.
    virtual void beginLine(const char *cls, bool spacer) = 0;
    virtual void endLine() = 0;
    virtual void beginFold(const char *cls) = 0;
    virtual void beginBody() = 0;
    virtual void beginClosing(bool spacer) = 0;
    virtual void endFold() = 0;
    // `id` is the position path an element name carries.
    virtual void run(const char *cls, const QString &text, const QString &id = QString()) = 0;
    virtual void plain(const QString &text) = 0;
    // Text kept as it is; a body's own block for classes "cb" and "db".
    virtual void preformatted(const char *cls, const QString &text) = 0;
    virtual void doctype(const QString &name) = 0;
    // What was left out, after the last line.
    virtual void note(const QString &text) = 0;
};

// The built-in preview: the document (or one element) as a colour-coded,
// collapsible source view. Element names carry their position path as id
// ("1.2.3": the document, the root element at its position among the
// document's children, then each child's position, every kind counting).
struct SourceView
{
    QString fontName;
    int fontSize = 10; // points
    // Nodes shown at most; the rest is left out with a note saying so.
    int nodeBudget = 3000;

    // A whole HTML page in UTF-8 terms, with the script that folds it, of
    // `node` (the document or an element; an element is shown as the root
    // element of a document). `also` is given the same view in the same
    // walk (SourceViewer::sinkFor).
    QString html(const XmlNode &node, SourceSink *also = nullptr) const;
};

// Marks in the pane's document: a toggle's character, and the id of a name.
// A line with a toggle keeps the number of blocks it folds as its state.
namespace sourceview {
constexpr int Toggle = QTextFormat::UserProperty + 1;
constexpr int NodeId = QTextFormat::UserProperty + 2;
}

// The node whose element name carries `id` in the source view of the
// whole document: the root element, then for each further part the child
// at that 1-based position. Null for an id that leads nowhere.
XmlNode nodeForSourceViewId(const XmlDocument &document, const QString &id);
