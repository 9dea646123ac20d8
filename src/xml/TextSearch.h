#pragma once

#include "XmlNode.h"

#include <QByteArray>

// False when the node's text() surely does not hold `utf8`, whose ASCII
// letters match either case when `caseless`: a search of the node's bytes,
// without making the text, before a closer look at it. True for what it
// cannot tell (a value with entity references, other kinds of node).
bool textMayContain(const XmlNode &node, const QByteArray &utf8, bool caseless);

// The next row after `node` in the tree's order (an element, its namespace
// declarations and attributes, then its children), before `end` (none: to
// the document's end), that is a value textMayContain() keeps: an attribute
// or namespace declaration, text, CDATA, comment or instruction. Null when
// none is left. A walk over the tree's own links, for a search that looks
// at values only in millions of nodes.
XmlNode nextTextMayContain(const XmlNode &node, const XmlNode &end, const QByteArray &utf8, bool caseless);
