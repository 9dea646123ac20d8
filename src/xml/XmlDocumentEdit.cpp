// Changing the tree: insertion, removal, attributes, text and names.
#include "XmlDocument.h"

#include "base/StringTable.h"
#include "LibXmlSupport.h"
#include "XmlDocumentInternal.h"
#include "XmlDocumentObserver.h"

#include <libxml/tree.h>

#include <algorithm>

using libxml::asNode;
using libxml::asNs;
using namespace xmldoc;

void XmlDocument::notifyInserted(const XmlNode &parent, const XmlNode &node)
{
    const XmlNode next = node.nextSibling();
    if (!node.m_owner && !node.isAttribute())
        noteContentChange(parent.m_ptr);
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->nodeInserted(parent, node, next);
}

void XmlDocument::notifyRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &next)
{
    if (!node.m_owner && !node.isAttribute())
        noteRemoval(parent.m_ptr, node.m_ptr);
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->nodeRemoved(parent, node, next);
}

bool XmlDocument::checkInsert(const XmlNode &parent, const XmlNode &node, const XmlNode &reference,
                              QString *error) const
{
    return checkPlacement(parent, node, reference, XmlNode(), error);
}

// Whether `node` may stand under `parent` before `reference` (null: last),
// with `replacing` (if any) gone. At the document level the order matters
// too: the declaration first, the document type before the root element.
bool XmlDocument::checkPlacement(const XmlNode &parent, const XmlNode &node, const XmlNode &reference,
                                 const XmlNode &replacing, QString *error) const
{
    if (!owns(parent) || !owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    if (reference && (!owns(reference) || reference.parentNode() != parent))
        return fail(error, QStringLiteral("挿入位置のノードが親ノードの子ではありません。"));
    const NodeKind pk = parent.kind();
    const NodeKind k = node.kind();
    if (pk != NodeKind::Element && pk != NodeKind::Document)
        return fail(error, QStringLiteral("%1 は子ノードを持てません。").arg(parent.kindName()));
    if (k == NodeKind::Attribute || k == NodeKind::Document || k == NodeKind::DocumentFragment
        || k == NodeKind::Entity || k == NodeKind::Notation || k == NodeKind::Declaration || k == NodeKind::Other)
        return fail(error, QStringLiteral("%1 はこの位置に挿入できません。").arg(node.kindName()));
    if (node.isAncestorOf(parent))
        return fail(error, QStringLiteral("ノードをそれ自身の下に挿入することはできません。"));
    const auto isDeclaration = [](const XmlNode &n) {
        return n.kind() == NodeKind::ProcessingInstruction && isDeclarationTarget(asNode(n.m_ptr)->name);
    };
    const bool declaration = isDeclaration(node);
    if (pk != NodeKind::Document) {
        if (k == NodeKind::DocumentType)
            return fail(error, QStringLiteral("%1 は要素の下に挿入できません。").arg(node.kindName()));
        if (declaration)
            return fail(error, QStringLiteral("XML宣言はドキュメントの先頭にしか置けません。"));
        return true;
    }
    if (k == NodeKind::Text || k == NodeKind::CData || k == NodeKind::EntityReference)
        return fail(error, QStringLiteral("%1 はドキュメントの直下に挿入できません。").arg(node.kindName()));
    bool beforePoint = true;
    bool anyBefore = false;
    for (XmlNode c = parent.firstChild(); c; c = c.nextSibling()) {
        if (c == reference)
            beforePoint = false;
        if (c == node || c == replacing)
            continue;
        anyBefore = anyBefore || beforePoint;
        const NodeKind ck = c.kind();
        if (k == NodeKind::Element && ck == NodeKind::Element)
            return fail(error, QStringLiteral("ルート要素がすでに存在します。"));
        if (k == NodeKind::DocumentType && ck == NodeKind::DocumentType)
            return fail(error, QStringLiteral("文書型宣言がすでに存在します。"));
        if (declaration && isDeclaration(c))
            return fail(error, QStringLiteral("XML宣言がすでに存在します。"));
        if (!beforePoint && isDeclaration(c))
            return fail(error, QStringLiteral("XML宣言の前には何も置けません。"));
        if ((k == NodeKind::Element && ck == NodeKind::DocumentType && !beforePoint)
            || (k == NodeKind::DocumentType && ck == NodeKind::Element && beforePoint))
            return fail(error, QStringLiteral("文書型宣言はルート要素の前に置く必要があります。"));
    }
    if (declaration && anyBefore)
        return fail(error, QStringLiteral("XML宣言はドキュメントの先頭にしか置けません。"));
    return true;
}

bool XmlDocument::insertBefore(const XmlNode &parent, const XmlNode &node, const XmlNode &reference, QString *error)
{
    if (!checkInsert(parent, node, reference, error))
        return false;
    if (reference == node)
        return true;
    if (asNode(node.m_ptr)->parent && !removeNode(node, error))
        return false;
    const xmlNodePtr p = asNode(parent.m_ptr);
    const xmlNodePtr n = asNode(node.m_ptr);
    const xmlNodePtr ref = reference ? asNode(reference.m_ptr) : nullptr;
    n->parent = p;
    n->doc = m_doc;
    if (ref) {
        n->next = ref;
        n->prev = ref->prev;
        if (ref->prev)
            ref->prev->next = n;
        else
            p->children = n;
        ref->prev = n;
    } else {
        n->next = nullptr;
        n->prev = p->last;
        if (p->last)
            p->last->next = n;
        else
            p->children = n;
        p->last = n;
    }
    if (m_numbered)
        forEachInSubtree(n, [](xmlNodePtr c) {
            if (c->type == XML_ELEMENT_NODE)
                c->content = nullptr; // its number, if any, is for where it stood
            return true;
        });
    if (n->type == XML_DTD_NODE && p == reinterpret_cast<xmlNodePtr>(m_doc) && !m_doc->intSubset)
        m_doc->intSubset = reinterpret_cast<xmlDtdPtr>(n);
    fixNamespaces(m_doc, n);
    notifyInserted(parent, node);
    return true;
}

bool XmlDocument::appendChild(const XmlNode &parent, const XmlNode &node, QString *error)
{
    return insertBefore(parent, node, XmlNode(), error);
}

bool XmlDocument::removeChild(const XmlNode &parent, const XmlNode &node, QString *error)
{
    if (!owns(parent) || !owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    const XmlNode actualParent = node.isAttribute() ? node.ownerElement() : node.parentNode();
    if (actualParent != parent)
        return fail(error, QStringLiteral("削除するノードが親ノードの子ではありません。"));
    return removeNode(node, error);
}

bool XmlDocument::removeNode(const XmlNode &node, QString *error)
{
    if (!owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    if (node.isDocument())
        return fail(error, QStringLiteral("ドキュメントノードは削除できません。"));
    if (node.m_owner) {
        const xmlNodePtr owner = asNode(node.m_owner);
        const xmlNsPtr ns = asNs(node.m_ptr);
        const XmlNode parent = node.ownerElement();
        if (!parent)
            return true;
        // Names in it would lose their namespace, and the saved prefixes
        // would be undeclared.
        if (namespaceUsed(owner, ns))
            return fail(error, QStringLiteral("名前空間の宣言「%1」は使用中のため削除できません。").arg(node.nodeName()));
        const XmlNode next = node.nextSibling();
        noteMarkupChange(owner);
        unlinkNamespace(owner, ns);
        if (std::find(m_detachedNamespaces.begin(), m_detachedNamespaces.end(), ns) == m_detachedNamespaces.end())
            m_detachedNamespaces.push_back(ns);
        notifyRemoved(parent, node, next);
        return true;
    }
    const xmlNodePtr n = asNode(node.m_ptr);
    if (!n->parent)
        return true;
    if (n->type == XML_DTD_NODE) {
        // Its declarations are what an entity reference refers to: without
        // them the saved file would not parse again.
        const xmlChar *entity = nullptr;
        forEachInList(m_doc->children, [&entity](xmlNodePtr c) {
            if (c->type == XML_ENTITY_REF_NODE)
                entity = c->name;
            return !entity;
        });
        if (entity)
            return fail(error, resourceString(3202).arg(QString::fromUtf8(reinterpret_cast<const char *>(entity))));
    }
    const XmlNode parent(n->parent, nullptr);
    const XmlNode next = node.nextSibling();
    if (node.isAttribute())
        noteMarkupChange(n->parent);
    xmlUnlinkNode(n);
    keep(n);
    notifyRemoved(parent, node, next);
    return true;
}

bool XmlDocument::replaceChild(const XmlNode &parent, const XmlNode &newNode, const XmlNode &oldNode, QString *error)
{
    if (!owns(oldNode) || oldNode.isAttribute() || oldNode.parentNode() != parent)
        return fail(error, QStringLiteral("置き換えるノードが親ノードの子ではありません。"));
    if (newNode == oldNode)
        return true;
    XmlNode next = oldNode.nextSibling();
    if (next == newNode)
        next = newNode.nextSibling();
    // Checked as if the old node were already gone, so that a root element
    // can be replaced by another element.
    if (!checkPlacement(parent, newNode, next, oldNode, error))
        return false;
    if (!removeNode(oldNode, error))
        return false;
    return insertBefore(parent, newNode, next, error);
}

bool XmlDocument::setDocumentElement(const XmlNode &element, QString *error)
{
    if (!element.isElement())
        return fail(error, QStringLiteral("ルートには要素しか置けません。"));
    const XmlNode root = documentElement();
    if (root)
        return replaceChild(documentNode(), element, root, error);
    return appendChild(documentNode(), element, error);
}

bool XmlDocument::setAttributeNode(const XmlNode &element, const XmlNode &attribute, const XmlNode &reference,
                                   XmlNode *replaced, QString *error)
{
    if (replaced)
        *replaced = XmlNode();
    if (!owns(element) || !owns(attribute))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    if (!element.isElement() || !attribute.isAttribute())
        return fail(error, QStringLiteral("属性は要素にしか設定できません。"));
    const XmlNode currentOwner = attribute.ownerElement();
    if (currentOwner == element)
        return true;
    if (currentOwner)
        return fail(error, QStringLiteral("この属性は他の要素で使用されています。"));
    if (attribute.m_owner && attribute.m_owner != element.m_ptr)
        return fail(error, QStringLiteral("名前空間の宣言は他の要素に移せません。"));
    if (reference && reference.ownerElement() != element)
        return fail(error, QStringLiteral("挿入位置の属性がこの要素のものではありません。"));

    const xmlNodePtr e = asNode(element.m_ptr);
    const QString name = attribute.nodeName();
    const xmlNsPtr declaration = attribute.m_owner ? asNs(attribute.m_ptr) : nullptr;

    noteMarkupChange(e);
    XmlNode before = reference;
    const XmlNode existing = element.attributeNode(name);
    if (existing) {
        if (!before || before == existing)
            before = existing.nextSibling();
        if (existing.m_owner && declaration) {
            // A declaration replaced by another of the same prefix: names
            // bound to the old one move to the new one.
            const XmlNode next = existing.nextSibling();
            unlinkNamespace(e, asNs(existing.m_ptr));
            m_detachedNamespaces.push_back(existing.m_ptr);
            repointNamespace(e, asNs(existing.m_ptr), declaration);
            notifyRemoved(element, existing, next);
        } else if (!removeNode(existing, error)) {
            return false;
        }
        if (replaced)
            *replaced = existing;
    }

    if (declaration) {
        xmlNsPtr *link = &e->nsDef;
        while (*link && !(before && before.m_owner && *link == asNs(before.m_ptr)))
            link = &(*link)->next;
        declaration->next = *link;
        *link = declaration;
        m_detachedNamespaces.erase(std::remove(m_detachedNamespaces.begin(), m_detachedNamespaces.end(), declaration),
                                   m_detachedNamespaces.end());
        notifyInserted(element, XmlNode(declaration, e));
        return true;
    }

    const xmlAttrPtr a = static_cast<xmlAttrPtr>(attribute.m_ptr);
    // Declarations always come first: before one of them means first of
    // the other attributes.
    const xmlAttrPtr ref = !before ? nullptr : before.m_owner ? e->properties : static_cast<xmlAttrPtr>(before.m_ptr);
    a->parent = e;
    a->doc = m_doc;
    if (ref) {
        a->next = ref;
        a->prev = ref->prev;
        if (ref->prev)
            ref->prev->next = a;
        else
            e->properties = a;
        ref->prev = a;
    } else {
        a->next = nullptr;
        a->prev = nullptr;
        if (!e->properties) {
            e->properties = a;
        } else {
            xmlAttrPtr last = e->properties;
            while (last->next)
                last = last->next;
            last->next = a;
            a->prev = last;
        }
    }
    fixNamespace(m_doc, reinterpret_cast<xmlNodePtr>(a), e);
    notifyInserted(element, attribute);
    return true;
}

bool XmlDocument::setAttribute(const XmlNode &element, const QString &name, const QString &value, QString *error)
{
    if (!element.isElement())
        return fail(error, QStringLiteral("属性は要素にしか設定できません。"));
    if (const XmlNode existing = element.attributeNode(name))
        return setText(existing, value, error);
    if (!checkChars(value, error))
        return false;
    if (name == QLatin1String("xmlns") || name.startsWith(QLatin1String("xmlns:")))
        return declareNamespace(element, name.mid(6), value, error);
    const XmlNode a = createAttribute(name, error);
    if (!a)
        return false;
    setLiteralValue(static_cast<xmlAttrPtr>(a.m_ptr), utf8(value));
    return setAttributeNode(element, a, XmlNode(), nullptr, error);
}

bool XmlDocument::removeAttribute(const XmlNode &element, const QString &name, QString *error)
{
    const XmlNode existing = element.attributeNode(name);
    return existing ? removeNode(existing, error) : true;
}

bool XmlDocument::setText(const XmlNode &node, const QString &text, QString *error)
{
    if (!owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    const NodeKind kind = node.kind();
    const bool declaration = kind == NodeKind::ProcessingInstruction && isDeclarationTarget(asNode(node.m_ptr)->name);
    if (!checkContent(kind, text, declaration, error))
        return false;
    const QString old = node.text();
    const QByteArray t = utf8(text);
    if (kind == NodeKind::Attribute)
        noteMarkupChange(node.m_owner ? node.m_owner : asNode(node.m_ptr)->parent);
    else if (kind != NodeKind::Element)
        noteMarkupChange(node.m_ptr);
    switch (kind) {
    case NodeKind::Attribute:
        if (node.m_owner) {
            const xmlNsPtr ns = asNs(node.m_ptr);
            if (ns->prefix && text.isEmpty())
                return fail(error, QStringLiteral("接頭辞付きの名前空間の宣言を空にすることはできません。"));
            xmlFree(const_cast<xmlChar *>(ns->href));
            ns->href = xmlStrdup(xc(t));
        } else {
            // An ID's table entry is keyed by its value.
            const xmlAttrPtr a = static_cast<xmlAttrPtr>(node.m_ptr);
            const bool id = a->atype == XML_ATTRIBUTE_ID && a->parent;
            if (id)
                xmlRemoveID(m_doc, a);
            setLiteralValue(a, t);
            if (id)
                xmlAddID(nullptr, m_doc, xc(t), a);
        }
        break;
    case NodeKind::Comment:
    case NodeKind::CData:
    case NodeKind::ProcessingInstruction:
    case NodeKind::Text:
        xmlNodeSetContent(asNode(node.m_ptr), xc(t));
        break;
    case NodeKind::Element: {
        while (XmlNode c = node.firstChild())
            if (!removeNode(c, error))
                return false;
        if (!text.isEmpty())
            return appendChild(node, createTextNode(text), error);
        return true;
    }
    default:
        return fail(error, QStringLiteral("%1 のテキストは変更できません。").arg(node.kindName()));
    }
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->textChanged(node, old);
    return true;
}

bool XmlDocument::rename(const XmlNode &node, const QString &name, QString *error)
{
    if (!owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    const NodeKind k = node.kind();
    if (k != NodeKind::Element && k != NodeKind::ProcessingInstruction && (k != NodeKind::Attribute || node.m_owner))
        return fail(error, QStringLiteral("%1 の名前は変更できません。").arg(node.kindName()));
    // A PI becomes the declaration only where one may stand: first in the
    // document, with a declaration's content (undo renames one back).
    const xmlNodePtr self = asNode(node.m_ptr);
    const bool asDeclaration = k == NodeKind::ProcessingInstruction && name == QLatin1String("xml")
        && self->parent == reinterpret_cast<xmlNodePtr>(m_doc) && !self->prev
        && checkContent(k, node.text(), true, nullptr);
    if (k == NodeKind::ProcessingInstruction ? !checkTarget(name, asDeclaration, error) : !checkName(name, error))
        return false;
    // A prefix nothing declares where the node stands makes a file that
    // namespace-aware tools refuse. A detached node is bound when inserted.
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    const xmlNodePtr scope = k == NodeKind::Attribute ? self->parent : self->parent ? self : nullptr;
    if (k != NodeKind::ProcessingInstruction && colon > 0 && scope
        && !xmlSearchNs(m_doc, scope, xc(utf8(name.left(colon)))))
        return fail(error, resourceString(3201).arg(name.left(colon)));
    const QString old = node.nodeName();
    if (old == name)
        return true;
    if (k == NodeKind::Attribute) {
        const XmlNode owner = node.ownerElement();
        if (owner && owner.attributeNode(name))
            return fail(error, QStringLiteral("属性「%1」はすでに存在します。").arg(name));
        if (name == QLatin1String("xmlns") || name.startsWith(QLatin1String("xmlns:")))
            return fail(error, QStringLiteral("属性の名前を名前空間の宣言に変更することはできません。"));
    }
    const xmlNodePtr n = asNode(node.m_ptr);
    noteMarkupChange(k == NodeKind::Attribute ? n->parent : n);
    xmlNodeSetName(n, xc(utf8(name)));
    if (k != NodeKind::ProcessingInstruction) {
        // The name is read as markup would be where the node stands.
        namespaceOf(n) = nullptr;
        fixNamespace(m_doc, n, k == NodeKind::Attribute ? n->parent : n);
    }
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->nodeRenamed(node, old);
    return true;
}
