#pragma once

#include "XmlNode.h"

#include <QByteArray>

// False when the node's text() surely does not hold `utf8`, whose ASCII
// letters match either case when `caseless`: a search of the node's bytes,
// without making the text, before a closer look at it. True for what it
// cannot tell (a value with entity references, other kinds of node).
bool textMayContain(const XmlNode &node, const QByteArray &utf8, bool caseless);
