#pragma once

#include <QString>

class XmlDocument;
class XmlNode;

// The built-in preview: the document (or one element) as a colour-coded,
// collapsible source view. Each node is a block of class "e" ("k" for
// comments and CDATA sections); element names carry their position path
// as id ("1.2.3": the document, the root element at its position among the
// document's children, then each child's position, every kind counting).
struct SourceView
{
    QString fontName;
    int fontSize = 10; // points
    // Nodes shown at most; the rest is left out with a note saying so.
    int nodeBudget = 3000;

    // A whole HTML page in UTF-8 terms. `node` is the document or an
    // element; an element is shown as the root element of a document.
    QString html(const XmlNode &node) const;
};

// The node whose element name carries `id` in the source view of the
// whole document: the root element, then for each further part the child
// at that 1-based position. Null for an id that leads nowhere.
XmlNode nodeForSourceViewId(const XmlDocument &document, const QString &id);
