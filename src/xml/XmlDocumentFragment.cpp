// Markup of single nodes for replaying changes: written as the tree holds
// it and read back in the place it belongs.
#include "XmlDocument.h"

#include "LibXmlSupport.h"
#include "XmlDocumentInternal.h"
#include "XmlSource.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

using libxml::asNode;
using namespace xmldoc;

QByteArray XmlDocument::exactMarkup(const XmlNode &node) const
{
    QByteArray out;
    if (owns(node) && node.isElement())
        dump(node, &out, "UTF-8", 0, false);
    return out;
}

XmlNode XmlDocument::parseFragment(const QByteArray &markup, const XmlNode &context, QString *error)
{
    if (!owns(context) || (!context.isElement() && !context.isDocument()))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。")), XmlNode();
    if (markup.size() > std::numeric_limits<int>::max())
        return fail(error, QStringLiteral("マークアップが大きすぎます。")), XmlNode();
    libxml::ensureInitialized();
    settle();
    const xmlNodePtr at = context.isDocument() ? reinterpret_cast<xmlNodePtr>(m_doc) : asNode(context.m_ptr);
    // The markup is UTF-8 whatever the document's own encoding: libxml2
    // would read it in that one.
    const xmlChar *encoding = m_doc->encoding;
    m_doc->encoding = nullptr;
    xmlNodePtr list = nullptr;
    const xmlParserErrors result = xmlParseInNodeContext(at, markup.constData(), int(markup.size()),
                                                         XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_BIG_LINES, &list);
    m_doc->encoding = encoding;
    int count = 0;
    for (xmlNodePtr n = list; n; n = n->next)
        ++count;
    if (result != XML_ERR_OK || count != 1) {
        xmlFreeNodeList(list);
        return fail(error, QStringLiteral("マークアップを読めません。")), XmlNode();
    }
    list->parent = nullptr;
    keep(list);
    return XmlNode(list, nullptr);
}

bool XmlDocument::hasSourceMarkup(const XmlNode &node) const
{
    settle();
    return owns(node) && !node.m_owner && m_source && hasRange(asNode(node.m_ptr));
}
