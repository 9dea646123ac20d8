#include "TextSearch.h"

#include "XmlNodeAccess.h"

#include <QChar>

#include <libxml/tree.h>

#include <cstring>

namespace {

bool holds(const xmlChar *text, const QByteArray &utf8, bool caseless)
{
    if (!text)
        return utf8.isEmpty();
    const char *t = reinterpret_cast<const char *>(text);
    if (!caseless)
        return std::strstr(t, utf8.constData()) != nullptr;
    const uint n = uint(utf8.size());
    const char first = utf8.isEmpty() ? 0 : utf8.front();
    if (first > 0 && first < 0x7f) {
        // Only where the first character stands, in either case: the
        // comparison costs a call per byte.
        const char lower = char(QChar::toLower(char16_t(first))), upper = char(QChar::toUpper(char16_t(first)));
        for (; *t; ++t)
            if ((*t == lower || *t == upper) && qstrnicmp(t, utf8.constData(), n) == 0)
                return true;
        return false;
    }
    for (; *t; ++t)
        if (qstrnicmp(t, utf8.constData(), n) == 0)
            return true;
    return false;
}

// Whether a node of these kinds is a value; others have no text to look at.
bool isValue(xmlNodePtr n)
{
    switch (n->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
    case XML_ATTRIBUTE_NODE:
        return true;
    default:
        return false;
    }
}

bool mayContain(xmlNodePtr n, const QByteArray &utf8, bool caseless)
{
    switch (n->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        return holds(n->content, utf8, caseless);
    case XML_ATTRIBUTE_NODE:
        // A value of one text node, as most are; references leave it to text().
        if (n->children && n->children == n->last && n->children->type == XML_TEXT_NODE)
            return holds(n->children->content, utf8, caseless);
        return true;
    default:
        return true;
    }
}

// A row: a node, or a namespace declaration (`ns`) on its element (`owner`).
struct Row
{
    void *address;
    xmlNodePtr owner;
    xmlNodePtr node() const { return static_cast<xmlNodePtr>(address); }
};

bool hasRows(xmlNodePtr n)
{
    return n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE;
}

// As NodeFinder walks the rows, on the links themselves.
Row firstRow(xmlNodePtr n)
{
    if (!hasRows(n))
        return {};
    if (n->type == XML_ELEMENT_NODE && n->nsDef)
        return {n->nsDef, n};
    if (n->type == XML_ELEMENT_NODE && n->properties)
        return {n->properties, nullptr};
    return {n->children, nullptr};
}

Row nextRow(const Row &row)
{
    xmlNodePtr element = nullptr;
    if (row.owner) {
        if (const xmlNsPtr next = static_cast<xmlNsPtr>(row.address)->next)
            return {next, row.owner};
        if (row.owner->properties)
            return {row.owner->properties, nullptr};
        element = row.owner;
    } else {
        const xmlNodePtr n = row.node();
        if (n->type == XML_ATTRIBUTE_NODE && !n->parent)
            return {};
        if (n->next)
            return {n->next, nullptr};
        if (n->type != XML_ATTRIBUTE_NODE)
            return {};
        element = n->parent;
    }
    return {element->children, nullptr};
}

xmlNodePtr parentRow(const Row &row)
{
    return row.owner ? row.owner : row.node()->parent;
}

} // namespace

bool textMayContain(const XmlNode &node, const QByteArray &utf8, bool caseless)
{
    const auto n = static_cast<xmlNodePtr>(XmlNodeAccess::raw(node));
    return !n || mayContain(n, utf8, caseless);
}

XmlNode nextTextMayContain(const XmlNode &node, const XmlNode &end, const QByteArray &utf8, bool caseless)
{
    Row row{XmlNodeAccess::address(node), static_cast<xmlNodePtr>(XmlNodeAccess::owner(node))};
    const Row stop{XmlNodeAccess::address(end), static_cast<xmlNodePtr>(XmlNodeAccess::owner(end))};
    while (row.address) {
        Row next = row.owner ? Row{} : firstRow(row.node());
        for (Row up = row; !next.address && up.address;) {
            if (!up.owner && (up.node()->type == XML_DOCUMENT_NODE || up.node()->type == XML_HTML_DOCUMENT_NODE))
                break;
            next = nextRow(up);
            up = {parentRow(up), nullptr};
        }
        row = next;
        if (!row.address || (row.address == stop.address && row.owner == stop.owner))
            return XmlNode();
        if (row.owner || (isValue(row.node()) && mayContain(row.node(), utf8, caseless)))
            return XmlNodeAccess::make(row.address, row.owner);
    }
    return XmlNode();
}
