#include "SubtreeCheck.h"

#include "GuideErrors.h"
#include "ValidationCopy.h"

#include <libxml/hash.h>
#include <libxml/schemasInternals.h>
#include <libxml/valid.h>

#include <algorithm>
#include <climits>

namespace validation {

namespace {

// Past this many copied nodes the whole check in a child is the better way.
constexpr qint64 kMaxCopied = 50000;

// Copies elements with their namespace declarations and attributes as they
// are; every node of the copy keeps its original in _private.
class Copier
{
public:
    explicit Copier(xmlDocPtr copy) : m_copy(copy) {}

    bool refused() const { return m_refused || m_copied > kMaxCopied; }

    xmlNodePtr element(xmlNodePtr original, xmlNodePtr parent)
    {
        xmlNodePtr made = xmlNewDocNode(m_copy, nullptr, original->name, nullptr);
        if (!made) {
            m_refused = true;
            return nullptr;
        }
        made->_private = original;
        made->line = original->line;
        xmlAddChild(parent ? parent : reinterpret_cast<xmlNodePtr>(m_copy), made);
        for (xmlNsPtr d = original->nsDef; d; d = d->next)
            xmlNewNs(made, d->href, d->prefix);
        xmlSetNs(made, sameNamespace(made, original->ns));
        for (xmlAttrPtr a = original->properties; a; a = a->next) {
            QByteArray value;
            for (xmlNodePtr c = a->children; c; c = c->next) {
                if (c->type != XML_TEXT_NODE)
                    m_refused = true; // a reference to substitute
                else if (c->content)
                    value += reinterpret_cast<const char *>(c->content);
            }
            // Taken as it stands: no references are looked for in it.
            xmlAttrPtr copied = xmlNewNsProp(made, sameNamespace(made, a->ns), a->name,
                                             reinterpret_cast<const xmlChar *>(value.constData()));
            if (!copied) {
                m_refused = true;
                continue;
            }
            copied->_private = a;
            ++m_copied;
        }
        ++m_copied;
        return made;
    }

    // The whole content of `original` under its copy `into`.
    void content(xmlNodePtr original, xmlNodePtr into)
    {
        for (xmlNodePtr n = original->children; n && !refused(); n = n->next) {
            switch (n->type) {
            case XML_ELEMENT_NODE:
                if (xmlNodePtr made = element(n, into))
                    content(n, made);
                break;
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
            case XML_COMMENT_NODE:
            case XML_PI_NODE:
                if (xmlNodePtr made = xmlDocCopyNode(n, m_copy, 1)) {
                    made->_private = n;
                    xmlAddChild(into, made);
                    ++m_copied;
                }
                break;
            case XML_ENTITY_REF_NODE:
                m_refused = true;
                break;
            default:
                break;
            }
        }
    }

    // References stand in the content of an element on the way: what they
    // stand for may be elements, which would change the way's positions.
    void refuseReferencesIn(xmlNodePtr element)
    {
        for (xmlNodePtr n = element->children; n; n = n->next)
            m_refused = m_refused || n->type == XML_ENTITY_REF_NODE;
    }

private:
    // The copy's declaration of a namespace, in scope as in the original,
    // since the declarations on the way are copied too.
    xmlNsPtr sameNamespace(xmlNodePtr made, xmlNsPtr ns)
    {
        if (!ns)
            return nullptr;
        xmlNsPtr found = xmlSearchNs(m_copy, made, ns->prefix);
        if (!found || !xmlStrEqual(found->href, ns->href))
            m_refused = true;
        return found;
    }

    xmlDocPtr m_copy;
    qint64 m_copied = 0;
    bool m_refused = false;
};

bool inside(xmlNodePtr node, xmlNodePtr subtree)
{
    for (xmlNodePtr p = node; p; p = p->parent) {
        if (p == subtree)
            return true;
    }
    return false;
}

// An ID or a reference to one in the subtree: what it must be unique in,
// or point to, is the whole document.
bool holdsIds(xmlDocPtr copy, xmlNodePtr subtree, bool byDtd)
{
    for (xmlNodePtr e = subtree; e;) {
        if (e->type == XML_ELEMENT_NODE) {
            for (xmlAttrPtr a = e->properties; a; a = a->next) {
                const bool xmlId = a->ns && xmlStrEqual(a->ns->href, XML_XML_NAMESPACE) && xmlStrEqual(a->name, BAD_CAST "id");
                // An XML Schema's validation marks the IDs and references it finds.
                const bool marked = a->atype == XML_ATTRIBUTE_ID || a->atype == XML_ATTRIBUTE_IDREF || a->atype == XML_ATTRIBUTE_IDREFS;
                if (xmlId || marked || (byDtd && (xmlIsID(copy, e, a) || xmlIsRef(copy, e, a))))
                    return true;
            }
            if (e->children) {
                e = e->children;
                continue;
            }
        }
        while (e != subtree && !e->next)
            e = e->parent;
        e = e == subtree ? nullptr : e->next;
    }
    return false;
}

} // namespace

bool checkSubtree(xmlNodePtr element, xmlSchemaPtr xsd, xmlDtdPtr dtd, bool ownDtd, std::vector<SubtreeFault> *faults)
{
    if (!element || element->type != XML_ELEMENT_NODE || !element->doc || (!xsd && !dtd && !ownDtd))
        return false;
    // Keys and references to them are checked across their scope.
    if (xsd && xsd->idcDef && xmlHashSize(xsd->idcDef) > 0)
        return false;
    xmlDocPtr original = element->doc;
    std::vector<xmlNodePtr> way; // the root down to the element's parent
    for (xmlNodePtr n = element->parent; n && n->type == XML_ELEMENT_NODE; n = n->parent)
        way.push_back(n);
    std::reverse(way.begin(), way.end());

    DocCopy copy(xmlNewDoc(original->version ? original->version : BAD_CAST "1.0"));
    if (!copy)
        return false;
    const bool byDtd = !xsd;
    // An XML Schema looks up the unparsed entities an ENTITY value names
    // in the document's own subset, as the whole check's copy has it.
    if ((!byDtd || ownDtd) && original->intSubset) {
        xmlDtdPtr subset = xmlCopyDtd(original->intSubset);
        if (!subset)
            return false;
        xmlSetTreeDoc(reinterpret_cast<xmlNodePtr>(subset), copy.get());
        copy->intSubset = subset;
        xmlAddChild(reinterpret_cast<xmlNodePtr>(copy.get()), reinterpret_cast<xmlNodePtr>(subset));
    }
    Copier copier(copy.get());
    xmlNodePtr subtree = nullptr;
    if (way.empty()) {
        subtree = copier.element(element, nullptr);
    } else {
        xmlNodePtr parent = copier.element(way.front(), nullptr);
        for (std::size_t i = 0; i < way.size() && parent && !copier.refused(); ++i) {
            const xmlNodePtr next = i + 1 < way.size() ? way[i + 1] : element;
            copier.refuseReferencesIn(way[i]);
            xmlNodePtr nextCopy = nullptr;
            for (xmlNodePtr c = way[i]->children; c && !copier.refused(); c = c->next) {
                if (c->type != XML_ELEMENT_NODE)
                    continue;
                xmlNodePtr made = copier.element(c, parent);
                if (c == next)
                    nextCopy = made;
            }
            parent = nextCopy;
        }
        subtree = parent;
    }
    if (subtree)
        copier.content(element, subtree);
    if (!subtree || copier.refused())
        return false;

    std::vector<guide::Collector::Entry> entries;
    {
        guide::Collector collector(copy.get(), &entries, INT_MAX);
        if (xsd) {
            xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(xsd);
            if (!context)
                return false;
            xmlSchemaValidateDoc(context, copy.get());
            xmlSchemaFreeValidCtxt(context);
        } else {
            validateWithDtd(copy.get(), dtd, ownDtd, [](qint64) { return true; });
        }
    }
    // The DTD in force, as the validation had it, tells the IDs.
    xmlDtdPtr external = copy->extSubset;
    if (byDtd && dtd)
        copy->extSubset = dtd;
    const bool ids = holdsIds(copy.get(), subtree, byDtd);
    copy->extSubset = external;
    if (ids)
        return false;
    std::vector<SubtreeFault> found;
    for (const guide::Collector::Entry &e : entries) {
        auto *node = static_cast<xmlNodePtr>(e.node);
        if (!node)
            return false;
        if (!inside(node, subtree))
            continue; // of the way, whose content is left out
        auto *own = static_cast<xmlNodePtr>(node->_private);
        if (!own)
            return false;
        found.push_back({own, e.message});
    }
    faults->insert(faults->end(), found.begin(), found.end());
    return true;
}

} // namespace validation
