// Keeping names bound to the right namespace wherever a node goes.
#include "XmlDocument.h"

#include "LibXmlSupport.h"
#include "XmlDocumentInternal.h"

#include <libxml/tree.h>

using libxml::asNode;
using namespace xmldoc;

namespace xmldoc {

xmlNsPtr &namespaceOf(xmlNodePtr n)
{
    return n->type == XML_ATTRIBUTE_NODE ? reinterpret_cast<xmlAttrPtr>(n)->ns : n->ns;
}

void fixNamespace(xmlDocPtr doc, xmlNodePtr n, xmlNodePtr element)
{
    if (!element)
        return;
    xmlNsPtr &ns = namespaceOf(n);
    if (!ns) {
        if (const xmlChar *colon = xmlStrchr(n->name, ':')) {
            xmlChar *prefix = xmlStrndup(n->name, int(colon - n->name));
            if (xmlNsPtr found = xmlSearchNs(doc, element, prefix)) {
                xmlChar *local = xmlStrdup(colon + 1);
                xmlNodeSetName(n, local);
                xmlFree(local);
                ns = found;
            }
            xmlFree(prefix);
        } else if (n->type == XML_ELEMENT_NODE) {
            xmlNsPtr found = xmlSearchNs(doc, element, nullptr);
            if (found && found->href && *found->href)
                ns = found;
        }
        return;
    }
    if (ns->prefix && xmlStrEqual(ns->prefix, BAD_CAST "xml"))
        return;
    xmlNsPtr found = xmlSearchNs(doc, element, ns->prefix);
    if (found == ns)
        return;
    if (found && xmlStrEqual(found->href, ns->href)) {
        ns = found;
        return;
    }
    // An ordinary attribute spelled as this declaration would be written
    // twice; it stands for the declaration already.
    const QByteArray spelled = ns->prefix ? "xmlns:" + QByteArray(reinterpret_cast<const char *>(ns->prefix)) : "xmlns";
    for (xmlAttrPtr a = element->properties; a; a = a->next)
        if (!a->ns && xmlStrEqual(a->name, xc(spelled)))
            return;
    if (xmlNsPtr declared = xmlNewNs(element, ns->href, ns->prefix))
        ns = declared;
}

void fixNamespaces(xmlDocPtr doc, xmlNodePtr top)
{
    if (top->type != XML_ELEMENT_NODE)
        return;
    forEachInSubtree(top, [doc](xmlNodePtr n) {
        if (n->type == XML_ELEMENT_NODE)
            fixNamespace(doc, n, n);
        else if (n->type == XML_ATTRIBUTE_NODE)
            fixNamespace(doc, n, n->parent);
        return true;
    });
}

bool namespaceUsed(xmlNodePtr owner, xmlNsPtr ns)
{
    bool used = false;
    forEachInSubtree(owner, [&](xmlNodePtr n) {
        used = (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && namespaceOf(n) == ns;
        return !used;
    });
    return used;
}

void repointNamespace(xmlNodePtr owner, xmlNsPtr from, xmlNsPtr to)
{
    forEachInSubtree(owner, [&](xmlNodePtr n) {
        if ((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && namespaceOf(n) == from)
            namespaceOf(n) = to;
        return true;
    });
}

void unlinkNamespace(xmlNodePtr owner, xmlNsPtr ns)
{
    xmlNsPtr *link = &owner->nsDef;
    while (*link && *link != ns)
        link = &(*link)->next;
    if (*link)
        *link = ns->next;
    ns->next = nullptr;
}

} // namespace xmldoc

// A namespace declaration set by name is a real one, so that names with its
// prefix are bound to it; it is listed after the element's other ones.
bool XmlDocument::declareNamespace(const XmlNode &element, const QString &prefix, const QString &uri, QString *error)
{
    if (!owns(element))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    const QByteArray p = utf8(prefix);
    const QByteArray href = utf8(uri);
    if (!prefix.isEmpty() && (xmlValidateNCName(xc(p), 0) != 0 || p == "xml" || p == "xmlns" || href.isEmpty()))
        return fail(error, QStringLiteral("名前空間の宣言「xmlns:%1」は正しくありません。").arg(prefix));
    const xmlNodePtr e = asNode(element.m_ptr);
    xmlNsPtr ns = xmlNewNs(nullptr, xc(href), prefix.isEmpty() ? nullptr : xc(p));
    if (!ns)
        return fail(error, QStringLiteral("名前空間の宣言を作成できません。"));
    noteMarkupChange(e);
    xmlNsPtr *link = &e->nsDef;
    while (*link)
        link = &(*link)->next;
    *link = ns;
    notifyInserted(element, XmlNode(ns, e));
    return true;
}

QString XmlDocument::unboundPrefix(const XmlNode &node, const XmlNode &at) const
{
    if (!node.m_ptr || node.m_owner)
        return QString();
    const xmlNodePtr scope = owns(at) && at.isElement() ? asNode(at.m_ptr) : nullptr;
    QString unbound;
    // A parse leaves a name whose prefix it could not bind unbound, as it
    // was spelled; one with a namespace is declared wherever it goes.
    forEachInSubtree(asNode(node.m_ptr), [&](xmlNodePtr n) {
        if ((n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE) || namespaceOf(n))
            return true;
        const xmlChar *colon = xmlStrchr(n->name, ':');
        if (!colon)
            return true;
        xmlChar *prefix = xmlStrndup(n->name, int(colon - n->name));
        const xmlNodePtr element = n->type == XML_ATTRIBUTE_NODE ? n->parent : n;
        const bool bound = (element && xmlSearchNs(element->doc, element, prefix))
            || (scope && xmlSearchNs(m_doc, scope, prefix));
        if (!bound)
            unbound = QString::fromUtf8(reinterpret_cast<const char *>(prefix));
        xmlFree(prefix);
        return bound;
    });
    return unbound;
}
