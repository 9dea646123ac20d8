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

} // namespace

bool textMayContain(const XmlNode &node, const QByteArray &utf8, bool caseless)
{
    const auto n = static_cast<xmlNodePtr>(XmlNodeAccess::raw(node));
    if (!n)
        return true;
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
