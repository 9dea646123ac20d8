// Making nodes: creation and deep copies, also from other documents.
#include "XmlDocument.h"

#include "LibXmlSupport.h"
#include "XmlDocumentInternal.h"

#include <libxml/tree.h>

using libxml::asNode;
using namespace xmldoc;

namespace {

// Puts `list` (unlinked siblings) in place of `node`, which is freed.
void replaceByList(xmlNodePtr node, xmlNodePtr list)
{
    xmlNodePtr parent = node->parent;
    while (list) {
        xmlNodePtr next = list->next;
        list->parent = parent;
        list->prev = node->prev;
        list->next = node;
        if (node->prev)
            node->prev->next = list;
        else if (parent)
            parent->children = list;
        node->prev = list;
        list = next;
    }
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

} // namespace

void XmlDocument::keep(void *node)
{
    m_detached.insert(node);
}

XmlNode XmlDocument::createElement(const QString &name, QString *error)
{
    if (!checkName(name, error))
        return XmlNode();
    const QByteArray n = utf8(name);
    xmlNodePtr e = xmlNewDocNode(m_doc, nullptr, xc(n), nullptr);
    keep(e);
    return XmlNode(e, nullptr);
}

XmlNode XmlDocument::createAttribute(const QString &name, QString *error)
{
    if (!checkName(name, error))
        return XmlNode();
    const QByteArray n = utf8(name);
    xmlAttrPtr a = xmlNewDocProp(m_doc, xc(n), nullptr);
    keep(a);
    return XmlNode(a, nullptr);
}

XmlNode XmlDocument::createTextNode(const QString &text, QString *error)
{
    if (!checkContent(NodeKind::Text, text, false, error))
        return XmlNode();
    const QByteArray t = utf8(text);
    xmlNodePtr n = xmlNewDocText(m_doc, xc(t));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::createComment(const QString &text, QString *error)
{
    if (!checkContent(NodeKind::Comment, text, false, error))
        return XmlNode();
    const QByteArray t = utf8(text);
    xmlNodePtr n = xmlNewDocComment(m_doc, xc(t));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::createCDATASection(const QString &text, QString *error)
{
    if (!checkContent(NodeKind::CData, text, false, error))
        return XmlNode();
    const QByteArray t = utf8(text);
    xmlNodePtr n = xmlNewCDataBlock(m_doc, xc(t), int(t.size()));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::createProcessingInstruction(const QString &target, const QString &data, QString *error)
{
    if (!checkTarget(target, true, error)
        || !checkContent(NodeKind::ProcessingInstruction, data, target == QLatin1String("xml"), error))
        return XmlNode();
    const QByteArray t = utf8(target);
    const QByteArray d = utf8(data);
    xmlNodePtr n = xmlNewDocPI(m_doc, xc(t), data.isEmpty() ? nullptr : xc(d));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::cloneNode(const XmlNode &node)
{
    if (!node.m_ptr)
        return XmlNode();
    if (node.isAttribute()) {
        // Copied by name and value: the attribute's namespace is found again
        // where the copy is placed.
        const QByteArray name = utf8(node.nodeName());
        xmlAttrPtr a = xmlNewDocProp(m_doc, xc(name), nullptr);
        setLiteralValue(a, utf8(node.text()));
        keep(a);
        return XmlNode(a, nullptr);
    }
    const xmlNodePtr src = asNode(node.m_ptr);
    if (src->type == XML_DOCUMENT_NODE || src->type == XML_HTML_DOCUMENT_NODE)
        return XmlNode();
    xmlNodePtr copy = src->type == XML_DTD_NODE ? reinterpret_cast<xmlNodePtr>(xmlCopyDtd(reinterpret_cast<xmlDtdPtr>(src)))
                                                 : xmlDocCopyNode(src, m_doc, 1);
    if (!copy)
        return XmlNode();
    copy->doc = m_doc;
    if (src->doc != m_doc && src->type != XML_DTD_NODE)
        copy = asNode(expandForeignReferences(copy, src->doc));
    keep(copy);
    return XmlNode(copy, nullptr);
}

// References to entities this document does not declare would make the
// saved file unreadable ("entity not defined"); a copy from another
// document gets their replacement text instead, as far as that document
// knows it. An external entity was never loaded, and an empty one has
// nothing: their references become nothing.
void *XmlDocument::expandForeignReferences(void *copyPtr, void *sourcePtr)
{
    xmlNodePtr copy = asNode(copyPtr);
    const xmlDocPtr source = static_cast<xmlDocPtr>(sourcePtr);
    const auto foreign = [&](xmlNodePtr n) {
        return n->type == XML_ENTITY_REF_NODE && !xmlGetDocEntity(m_doc, n->name);
    };
    const auto entity = [&](xmlNodePtr n) { return source ? xmlGetDocEntity(source, n->name) : nullptr; };
    if (foreign(copy)) {
        const xmlEntityPtr ent = entity(copy);
        xmlChar *content = ent && ent->etype == XML_INTERNAL_GENERAL_ENTITY
                               ? xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(ent))
                               : nullptr;
        xmlNodePtr text = xmlNewDocText(m_doc, content ? content : BAD_CAST "");
        xmlFree(content);
        xmlFreeNode(copy);
        return text;
    }
    // Expanded content may hold further references, so repeat until none is
    // left; the source's load bounded the total expansion.
    for (;;) {
        std::vector<xmlNodePtr> found;
        forEachInSubtree(copy, [&](xmlNodePtr n) {
            if (foreign(n))
                found.push_back(n);
            return true;
        });
        if (found.empty())
            return copy;
        for (const xmlNodePtr ref : found) {
            const xmlEntityPtr ent = entity(ref);
            const bool internal = ent && ent->etype == XML_INTERNAL_GENERAL_ENTITY && ent->children;
            replaceByList(ref, internal ? xmlDocCopyNodeList(m_doc, ent->children) : nullptr);
        }
    }
}

int XmlDocument::externalReferences(const XmlNode &node) const
{
    if (!owns(node) || node.m_owner || !node.m_ptr)
        return 0;
    int count = 0;
    forEachInSubtree(asNode(node.m_ptr), [&](xmlNodePtr n) {
        if (n->type == XML_ENTITY_REF_NODE) {
            const xmlEntityPtr ent = xmlGetDocEntity(m_doc, n->name);
            count += !ent || ent->etype != XML_INTERNAL_GENERAL_ENTITY;
        }
        return true;
    });
    return count;
}
