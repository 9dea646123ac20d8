#include "NodeCount.h"

#include "XmlNodeAccess.h"

#include <libxml/tree.h>

namespace {

xmlNodePtr firstChild(xmlNodePtr n)
{
    switch (n->type) {
    case XML_ELEMENT_NODE:
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
    case XML_DOCUMENT_FRAG_NODE:
        return n->children;
    default:
        return nullptr;
    }
}

bool textOnly(xmlNodePtr n)
{
    for (xmlNodePtr c = firstChild(n); c; c = c->next)
        if (c->type != XML_TEXT_NODE && c->type != XML_ENTITY_REF_NODE)
            return false;
    return true;
}

qint64 count(xmlNodePtr n)
{
    if (n->type == XML_ELEMENT_NODE && textOnly(n))
        return 1;
    qint64 total = 1;
    for (xmlNodePtr c = firstChild(n); c; c = c->next)
        total += count(c);
    return total;
}

} // namespace

qint64 countLines(const XmlNode &node)
{
    const auto n = static_cast<xmlNodePtr>(XmlNodeAccess::raw(node));
    return n ? count(n) : 1;
}

bool holdsOnlyText(const XmlNode &element)
{
    const auto n = static_cast<xmlNodePtr>(XmlNodeAccess::raw(element));
    return n && textOnly(n);
}
