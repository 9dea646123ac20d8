#pragma once

#include "TextMatcher.h"
#include "xml/XmlNode.h"

#include <QObject>
#include <QPersistentModelIndex>
#include <QSet>

class DocumentHost;
class DocumentLifecycle;

// What to replace where: the pattern and its options, the parts of nodes
// looked at, and the part of the document.
struct ReplaceRequest : MatchOptions
{
    enum Target {
        ElementNames = 0x1,
        AttributeNames = 0x2,
        AttributeValues = 0x4,
        Text = 0x8, // text and CDATA
        Comments = 0x10,
        Instructions = 0x20, // a processing instruction's content
    };
    int targets = AttributeValues | Text;
    enum class Scope { Document, Subtree, Path };
    Scope scope = Scope::Document;
    XmlNode subtree; // Subtree: the node whose rows are searched, itself included
    QString path;    // Path: an expression whose nodes (with their rows) are searched
};

// Find and replace over a window's document, in the tree's order (an
// element's name, then its attributes' names and values, then its
// children), without making tree items for what it does not select. Names
// are matched as written (with their prefixes); values and text as the
// value pane shows them. Every change goes through the document service,
// so the tree, the history and the saved file follow as after any edit.
class NodeReplacer : public QObject
{
    Q_OBJECT
public:
    NodeReplacer(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent = nullptr);

    // A document that may be changed.
    bool canReplace() const;

    // Selects the next match after the one found last (after the selected
    // item when that is another). False when there is none; `message` then
    // says why (a faulty pattern or path, or the end reached).
    bool findNext(const ReplaceRequest &request, QString *message);
    // Replaces the match found last, when its item is still the selected
    // one, as a history step of its own, then finds the next. A change the
    // document refuses is not made and `message` says why.
    bool replace(const ReplaceRequest &request, QString *message);
    // Every match in the scope as one history step; matches whose change
    // would make the document unsound (a name that is invalid, taken or
    // has an undeclared prefix, "--" in a comment, ...) or that touch
    // locked names are left and counted. Returns the number replaced;
    // `message` gets the text the status bar shows.
    int replaceAll(const ReplaceRequest &request, QString *message);

private:
    enum Field { Name, Value, Fields };
    struct Scope
    {
        XmlNode first;
        XmlNode end; // none: the document's end
        QSet<XmlNode> roots; // with a path: the nodes found
        bool contains(const XmlNode &node) const;
    };
    bool scopeOf(const ReplaceRequest &request, Scope *scope, QString *message) const;
    bool apply(const XmlNode &node, int field, const QString &text, QString *error);
    void changed();

    DocumentHost &m_host;
    DocumentLifecycle &m_lifecycle;
    // The item of the match found last: gone with its node, unlike a handle.
    QPersistentModelIndex m_found;
    int m_foundField = Name;
};
