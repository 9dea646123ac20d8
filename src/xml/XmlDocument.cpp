// The document object itself: its life, lookups, XPath and observers.
#include "XmlDocument.h"

#include "LibXmlSupport.h"
#include "XmlDocumentInternal.h"
#include "XmlDocumentObserver.h"
#include "XmlSource.h"

#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>

using libxml::asNode;
using libxml::asNs;
using namespace xmldoc;

XmlDocument::XmlDocument()
{
    libxml::ensureInitialized();
    m_doc = xmlNewDoc(BAD_CAST "1.0");
}

XmlDocument::~XmlDocument()
{
    freeContent();
}

void XmlDocument::freeContent()
{
    settle();
    // Detached subtrees first: their names may live in the document's
    // dictionary, which xmlFreeDoc releases.
    std::vector<xmlNodePtr> roots;
    for (void *p : m_detached) {
        xmlNodePtr n = asNode(p);
        if (!n->parent)
            roots.push_back(n);
    }
    for (xmlNodePtr n : roots)
        xmlFreeNode(n);
    m_detached.clear();
    if (m_doc)
        xmlFreeDoc(m_doc);
    m_doc = nullptr;
    m_numbered = false;
    for (void *ns : m_detachedNamespaces)
        xmlFreeNs(asNs(ns));
    m_detachedNamespaces.clear();
}

XmlNode XmlDocument::documentNode() const
{
    return XmlNode(m_doc, nullptr);
}

XmlNode XmlDocument::documentElement() const
{
    xmlNodePtr root = xmlDocGetRootElement(m_doc);
    return root ? XmlNode(root, nullptr) : XmlNode();
}

bool XmlDocument::owns(const XmlNode &node) const
{
    if (!node.m_ptr)
        return false;
    if (node.m_owner)
        return asNode(node.m_owner)->doc == m_doc;
    const xmlNodePtr n = asNode(node.m_ptr);
    return n == reinterpret_cast<xmlNodePtr>(m_doc) || n->doc == m_doc;
}

bool XmlDocument::selectNodes(const QString &expression, const XmlNode &context, QList<XmlNode> *result,
                              QString *error) const
{
    // XPath may number the elements in their content fields.
    settle();
    if (!result)
        return fail(error, QStringLiteral("結果の格納先がありません。"));
    result->clear();
    const XmlNode ctxNode = context ? context : documentNode();
    if (!owns(ctxNode))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    xmlXPathContextPtr ctx = xmlXPathNewContext(m_doc);
    if (!ctx)
        return fail(error, QStringLiteral("out of memory"));
    // The engine's description of a failure ("Invalid expression") reaches
    // only the thread's last error: a context's own handler gets none.
    xmlResetLastError();
    const xmlNodePtr cn = ctxNode.m_owner ? asNode(ctxNode.m_owner) : asNode(ctxNode.m_ptr);
    ctx->node = cn;
    // Prefixes declared in scope may be used in the expression; so may, when
    // the expression has prefixes at all, one declared anywhere else in the
    // document (the first declaration of a prefix wins).
    std::vector<const xmlChar *> registered;
    const auto add = [&](xmlNsPtr ns) {
        if (!ns->prefix || !ns->href)
            return;
        for (const xmlChar *p : registered)
            if (xmlStrEqual(p, ns->prefix))
                return;
        registered.push_back(ns->prefix);
        xmlXPathRegisterNs(ctx, ns->prefix, ns->href);
    };
    if (xmlNsPtr *list = xmlGetNsList(m_doc, cn->type == XML_DOCUMENT_NODE ? xmlDocGetRootElement(m_doc) : cn)) {
        for (xmlNsPtr *p = list; *p; ++p)
            add(*p);
        xmlFree(list);
    }
    if (expression.contains(QLatin1Char(':'))) {
        forEachInList(m_doc->children, [&](xmlNodePtr n) {
            if (n->type == XML_ELEMENT_NODE)
                for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
                    add(ns);
            return true;
        });
    }
    const QByteArray expr = utf8(expression);
    xmlXPathObjectPtr obj = xmlXPathEvalExpression(xc(expr), ctx);
    bool ok = true;
    if (!obj) {
        const xmlError *last = xmlGetLastError();
        const QString reason = last && last->message ? QString::fromUtf8(last->message).trimmed() : QString();
        ok = fail(error, reason.isEmpty() ? QStringLiteral("XPath式を評価できません。") : reason);
    } else if (obj->type != XPATH_NODESET) {
        ok = fail(error, QStringLiteral("式の結果がノードセットではありません。"));
    } else if (obj->nodesetval) {
        for (int i = 0; i < obj->nodesetval->nodeNr; ++i) {
            xmlNodePtr n = obj->nodesetval->nodeTab[i];
            if (n->type == XML_NAMESPACE_DECL) {
                // XPath hands out copies of namespace nodes whose `next` is
                // the element they belong to; find the declaration itself.
                const xmlNsPtr copy = reinterpret_cast<xmlNsPtr>(n);
                const xmlNodePtr owner = reinterpret_cast<xmlNodePtr>(copy->next);
                for (xmlNodePtr e = owner; e && e->type == XML_ELEMENT_NODE; e = e->parent) {
                    for (xmlNsPtr d = e->nsDef; d; d = d->next) {
                        if (xmlStrEqual(d->prefix, copy->prefix)) {
                            if (e == owner)
                                result->append(XmlNode(d, e));
                            e = nullptr;
                            break;
                        }
                    }
                    if (!e)
                        break;
                }
                continue;
            }
            result->append(XmlNode(n, nullptr));
        }
    }
    if (obj)
        xmlXPathFreeObject(obj);
    xmlXPathFreeContext(ctx);
    return ok;
}

void XmlDocument::addObserver(XmlDocumentObserver *observer)
{
    if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void XmlDocument::removeObserver(XmlDocumentObserver *observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}
