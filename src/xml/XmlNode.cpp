#include "XmlNode.h"

#include "LibXmlSupport.h"

#include <libxml/tree.h>

using libxml::asNode;
using libxml::asNs;
using libxml::fromXml;

namespace {

QString qualifiedName(const xmlNs *ns, const xmlChar *name)
{
    if (ns && ns->prefix)
        return fromXml(ns->prefix) + QLatin1Char(':') + fromXml(name);
    return fromXml(name);
}

bool nsDeclaredOn(xmlNodePtr element, xmlNsPtr ns)
{
    for (xmlNsPtr d = element ? element->nsDef : nullptr; d; d = d->next)
        if (d == ns)
            return true;
    return false;
}

} // namespace

QString kindDisplayName(NodeKind kind)
{
    switch (kind) {
    case NodeKind::Element: return QStringLiteral("IXMLDOMElement");
    case NodeKind::Attribute: return QStringLiteral("IXMLDOMAttribute");
    case NodeKind::Text: return QStringLiteral("IXMLDOMText");
    case NodeKind::CData: return QStringLiteral("IXMLDOMCDATASection");
    case NodeKind::EntityReference: return QStringLiteral("IXMLDOMEntityReference");
    case NodeKind::Entity: return QStringLiteral("IXMLDOMEntity");
    case NodeKind::ProcessingInstruction: return QStringLiteral("IXMLDOMProcessingInstruction");
    case NodeKind::Comment: return QStringLiteral("IXMLDOMComment");
    case NodeKind::Document: return QStringLiteral("DOMDocument");
    case NodeKind::DocumentType: return QStringLiteral("IXMLDOMDocumentType");
    case NodeKind::DocumentFragment: return QStringLiteral("IXMLDOMDocumentFragment");
    case NodeKind::Notation: return QStringLiteral("IXMLDOMNotation");
    case NodeKind::Declaration: return QStringLiteral("IXMLDOMDeclaration");
    case NodeKind::Other: break;
    }
    return QStringLiteral("IXMLDOMNode");
}

NodeKind XmlNode::kind() const
{
    if (!m_ptr)
        return NodeKind::Other;
    if (m_owner)
        return NodeKind::Attribute;
    switch (asNode(m_ptr)->type) {
    case XML_ELEMENT_NODE: return NodeKind::Element;
    case XML_ATTRIBUTE_NODE: return NodeKind::Attribute;
    case XML_TEXT_NODE: return NodeKind::Text;
    case XML_CDATA_SECTION_NODE: return NodeKind::CData;
    case XML_ENTITY_REF_NODE: return NodeKind::EntityReference;
    case XML_ENTITY_NODE: return NodeKind::Entity;
    case XML_PI_NODE: return NodeKind::ProcessingInstruction;
    case XML_COMMENT_NODE: return NodeKind::Comment;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return NodeKind::Document;
    case XML_DOCUMENT_TYPE_NODE:
    case XML_DTD_NODE: return NodeKind::DocumentType;
    case XML_DOCUMENT_FRAG_NODE: return NodeKind::DocumentFragment;
    case XML_NOTATION_NODE: return NodeKind::Notation;
    case XML_ELEMENT_DECL:
    case XML_ATTRIBUTE_DECL:
    case XML_ENTITY_DECL: return NodeKind::Declaration;
    default: return NodeKind::Other;
    }
}

QString XmlNode::nodeName() const
{
    if (!m_ptr)
        return QString();
    if (m_owner) {
        const xmlNsPtr ns = asNs(m_ptr);
        return ns->prefix ? QStringLiteral("xmlns:") + fromXml(ns->prefix) : QStringLiteral("xmlns");
    }
    const xmlNodePtr n = asNode(m_ptr);
    switch (n->type) {
    case XML_ELEMENT_NODE: return qualifiedName(n->ns, n->name);
    case XML_ATTRIBUTE_NODE: return qualifiedName(reinterpret_cast<xmlAttrPtr>(n)->ns, n->name);
    case XML_TEXT_NODE: return QStringLiteral("#text");
    case XML_CDATA_SECTION_NODE: return QStringLiteral("#cdata-section");
    case XML_COMMENT_NODE: return QStringLiteral("#comment");
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE: return QStringLiteral("#document");
    case XML_DOCUMENT_FRAG_NODE: return QStringLiteral("#document-fragment");
    default: return fromXml(n->name);
    }
}

QString XmlNode::namespaceUri() const
{
    if (!m_ptr)
        return QString();
    if (m_owner)
        return QStringLiteral("http://www.w3.org/2000/xmlns/");
    const xmlNodePtr n = asNode(m_ptr);
    if (n->type == XML_ELEMENT_NODE && n->ns)
        return fromXml(n->ns->href);
    if (n->type == XML_ATTRIBUTE_NODE && reinterpret_cast<xmlAttrPtr>(n)->ns)
        return fromXml(reinterpret_cast<xmlAttrPtr>(n)->ns->href);
    return QString();
}

QString XmlNode::text() const
{
    if (!m_ptr)
        return QString();
    if (m_owner)
        return fromXml(asNs(m_ptr)->href);
    const xmlNodePtr n = asNode(m_ptr);
    switch (n->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        return fromXml(n->content);
    case XML_DTD_NODE:
    case XML_DOCUMENT_TYPE_NODE:
        return QString();
    case XML_ATTRIBUTE_NODE:
        // Most values are one text node: read in place, not copied first.
        if (n->children && n->children == n->last && n->children->type == XML_TEXT_NODE)
            return fromXml(n->children->content);
        Q_FALLTHROUGH();
    default: {
        xmlChar *content = xmlNodeGetContent(n);
        QString result = fromXml(content);
        xmlFree(content);
        return result;
    }
    }
}

XmlNode XmlNode::parentNode() const
{
    if (!m_ptr || m_owner)
        return XmlNode();
    const xmlNodePtr n = asNode(m_ptr);
    if (n->type == XML_ATTRIBUTE_NODE || !n->parent)
        return XmlNode();
    return XmlNode(n->parent, nullptr);
}

XmlNode XmlNode::ownerElement() const
{
    if (!m_ptr)
        return XmlNode();
    if (m_owner)
        return nsDeclaredOn(asNode(m_owner), asNs(m_ptr)) ? XmlNode(m_owner, nullptr) : XmlNode();
    const xmlNodePtr n = asNode(m_ptr);
    if (n->type != XML_ATTRIBUTE_NODE || !n->parent)
        return XmlNode();
    return XmlNode(n->parent, nullptr);
}

static bool hasTreeChildren(xmlNodePtr n)
{
    return n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE
        || n->type == XML_DOCUMENT_FRAG_NODE;
}

XmlNode XmlNode::firstChild() const
{
    if (!m_ptr || m_owner || !hasTreeChildren(asNode(m_ptr)) || !asNode(m_ptr)->children)
        return XmlNode();
    return XmlNode(asNode(m_ptr)->children, nullptr);
}

XmlNode XmlNode::lastChild() const
{
    if (!m_ptr || m_owner || !hasTreeChildren(asNode(m_ptr)) || !asNode(m_ptr)->last)
        return XmlNode();
    return XmlNode(asNode(m_ptr)->last, nullptr);
}

XmlNode XmlNode::nextSibling() const
{
    if (!m_ptr)
        return XmlNode();
    if (m_owner) {
        const xmlNsPtr ns = asNs(m_ptr);
        if (!nsDeclaredOn(asNode(m_owner), ns))
            return XmlNode();
        if (ns->next)
            return XmlNode(ns->next, m_owner);
        const xmlAttrPtr first = asNode(m_owner)->properties;
        return first ? XmlNode(first, nullptr) : XmlNode();
    }
    const xmlNodePtr n = asNode(m_ptr);
    if (n->type == XML_ATTRIBUTE_NODE && !n->parent)
        return XmlNode();
    return n->next ? XmlNode(n->next, nullptr) : XmlNode();
}

XmlNode XmlNode::previousSibling() const
{
    if (!m_ptr)
        return XmlNode();
    if (m_owner) {
        const xmlNodePtr owner = asNode(m_owner);
        xmlNsPtr prev = nullptr;
        for (xmlNsPtr d = owner->nsDef; d; d = d->next) {
            if (d == asNs(m_ptr))
                return prev ? XmlNode(prev, m_owner) : XmlNode();
            prev = d;
        }
        return XmlNode();
    }
    const xmlNodePtr n = asNode(m_ptr);
    if (n->prev)
        return XmlNode(n->prev, nullptr);
    if (n->type == XML_ATTRIBUTE_NODE && n->parent) {
        xmlNsPtr last = nullptr;
        for (xmlNsPtr d = n->parent->nsDef; d; d = d->next)
            last = d;
        if (last)
            return XmlNode(last, n->parent);
    }
    return XmlNode();
}

int XmlNode::childCount() const
{
    int count = 0;
    for (XmlNode c = firstChild(); c; c = c.nextSibling())
        ++count;
    return count;
}

XmlNode XmlNode::child(int index) const
{
    XmlNode c = firstChild();
    for (int i = 0; c && i < index; ++i)
        c = c.nextSibling();
    return index < 0 ? XmlNode() : c;
}

int XmlNode::indexInParent() const
{
    if (!m_ptr)
        return -1;
    if (isAttribute()) {
        const XmlNode owner = ownerElement();
        if (!owner)
            return -1;
        int i = 0;
        for (XmlNode a = owner.firstAttribute(); a; a = a.nextSibling(), ++i)
            if (a == *this)
                return i;
        return -1;
    }
    if (!asNode(m_ptr)->parent)
        return -1;
    int i = 0;
    for (xmlNodePtr p = asNode(m_ptr)->prev; p; p = p->prev)
        ++i;
    return i;
}

XmlNode XmlNode::firstAttribute() const
{
    if (!m_ptr || m_owner || asNode(m_ptr)->type != XML_ELEMENT_NODE)
        return XmlNode();
    const xmlNodePtr n = asNode(m_ptr);
    if (n->nsDef)
        return XmlNode(n->nsDef, n);
    return n->properties ? XmlNode(n->properties, nullptr) : XmlNode();
}

int XmlNode::attributeCount() const
{
    int count = 0;
    for (XmlNode a = firstAttribute(); a; a = a.nextSibling())
        ++count;
    return count;
}

XmlNode XmlNode::attribute(int index) const
{
    XmlNode a = firstAttribute();
    for (int i = 0; a && i < index; ++i)
        a = a.nextSibling();
    return index < 0 ? XmlNode() : a;
}

XmlNode XmlNode::attributeNode(const QString &name) const
{
    for (XmlNode a = firstAttribute(); a; a = a.nextSibling())
        if (a.nodeName() == name)
            return a;
    return XmlNode();
}

bool XmlNode::isAttached() const
{
    if (!m_ptr)
        return false;
    xmlNodePtr n;
    if (m_owner) {
        if (!nsDeclaredOn(asNode(m_owner), asNs(m_ptr)))
            return false;
        n = asNode(m_owner);
    } else {
        n = asNode(m_ptr);
    }
    while (n->parent)
        n = n->parent;
    return n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE;
}

bool XmlNode::isAncestorOf(const XmlNode &other) const
{
    if (!m_ptr || m_owner || !other.m_ptr)
        return false;
    xmlNodePtr n = other.m_owner ? asNode(other.m_owner) : asNode(other.m_ptr);
    if (other.m_owner && other == *this)
        return true;
    for (; n; n = n->parent)
        if (n == asNode(m_ptr))
            return true;
    return false;
}

int XmlNode::lineNumber() const
{
    if (!m_ptr || m_owner)
        return 0;
    const long line = xmlGetLineNo(asNode(m_ptr));
    return line > 0 ? int(line) : 0;
}
