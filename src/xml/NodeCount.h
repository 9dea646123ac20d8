#pragma once

#include "XmlNode.h"

// `node` and the nodes under it, an element that holds only text and entity
// references counted as one (it is shown on one line with its text). Walks
// the tree's own links: the rest of a large document is counted at each
// preview.
qint64 countLines(const XmlNode &node);

// An element holding nothing but text and entity references (or nothing),
// which the source view shows on one line.
bool holdsOnlyText(const XmlNode &element);
