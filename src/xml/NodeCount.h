#pragma once

#include "XmlNode.h"

// `node` and the nodes under it, an element that holds only text and entity
// references counted as one (it is shown on one line with its text). Walks
// the tree's own links: the rest of a large document is counted at each
// preview.
qint64 countLines(const XmlNode &node);
