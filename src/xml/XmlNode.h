#pragma once

#include <QHashFunctions>
#include <QString>

class XmlDocument;

// The kinds of node the document can hold. Every kind libxml2 can produce
// maps to one of these; kindName() gives the name shown to users.
enum class NodeKind {
    Element,
    Attribute,
    Text,
    CData,
    EntityReference,
    Entity,
    ProcessingInstruction,
    Comment,
    Document,
    DocumentType,
    DocumentFragment,
    Notation,
    Declaration, // element, attribute and entity declarations inside a DTD
    Other,
};

// The display name of a kind: "IXMLDOMElement", "DOMDocument", ...
QString kindDisplayName(NodeKind kind);

// A handle to one node of an XmlDocument. It is a plain value: copying it
// copies the reference, never the node. Handles never dangle while their
// document lives, because the document keeps detached nodes until it is
// freed. A null handle stands for "none".
//
// Namespace declarations (xmlns, xmlns:p) are shown as attributes, listed
// before the element's other attributes.
//
// All reading goes through the handle; every change goes through the
// XmlDocument so that its observers see it.
class XmlNode
{
public:
    XmlNode() = default;

    bool isNull() const { return m_ptr == nullptr; }
    explicit operator bool() const { return m_ptr != nullptr; }
    bool operator==(const XmlNode &other) const = default;

    NodeKind kind() const;
    QString kindName() const { return kindDisplayName(kind()); }
    bool isElement() const { return kind() == NodeKind::Element; }
    bool isAttribute() const { return kind() == NodeKind::Attribute; }
    bool isDocument() const { return kind() == NodeKind::Document; }

    // "#document", "#text", "#comment", "#cdata-section", the tag or
    // attribute name with its prefix, a PI's target, a doctype's name.
    QString nodeName() const;

    // The namespace name of an element or attribute; empty when it has none
    // (and for other kinds). A namespace declaration gives the xmlns one.
    QString namespaceUri() const;
    // The node's text: an attribute's value; the content of text, CDATA,
    // comments and PIs; the concatenated text of an element's or the
    // document's descendants; empty for a document type.
    QString text() const;

    // The parent element or document; none for the document, for attributes
    // (use ownerElement) and for detached nodes.
    XmlNode parentNode() const;
    // The element an attribute belongs to; none when detached.
    XmlNode ownerElement() const;

    XmlNode firstChild() const;
    XmlNode lastChild() const;
    XmlNode nextSibling() const;     // attributes: the next attribute
    XmlNode previousSibling() const; // attributes: the previous attribute
    int childCount() const;          // O(number of children)
    XmlNode child(int index) const;  // O(index)
    // Position among the parent's children, or among the element's
    // attributes for an attribute; -1 when detached. O(position).
    int indexInParent() const;

    // Attributes of an element, namespace declarations first.
    XmlNode firstAttribute() const;
    int attributeCount() const;
    XmlNode attribute(int index) const;
    XmlNode attributeNode(const QString &name) const; // by qualified name
    bool hasAttributes() const { return !firstAttribute().isNull(); }
    bool hasChildNodes() const { return !firstChild().isNull(); }

    // True for a node that is part of its document's tree (not detached).
    bool isAttached() const;
    // True when this node is `other` or one of its ancestors.
    bool isAncestorOf(const XmlNode &other) const;

    // Line in the source it was parsed from, 0 when not known.
    int lineNumber() const;

    // The address itself, scaled to the nodes' spacing: nodes made one
    // after another (as a parse makes them, in document order) land in
    // neighbouring buckets, so filling a lookup while walking a large
    // document stays within the cache instead of missing it per node.
    size_t hashValue() const { return (uintptr_t(m_ptr) >> 5) + (uintptr_t(m_owner) >> 3); }

private:
    friend class XmlDocument;
    friend class XmlNodeAccess;
    XmlNode(void *ptr, void *owner) : m_ptr(ptr), m_owner(owner) {}

    // An xmlNode (or xmlAttr, which shares its header), or, when m_owner is
    // set, an xmlNs declared on the element m_owner.
    void *m_ptr = nullptr;
    void *m_owner = nullptr;
};

inline size_t qHash(const XmlNode &node, size_t seed = 0)
{
    return node.hashValue() ^ seed;
}
