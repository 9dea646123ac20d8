#include "ValidationCopy.h"

#include "xml/LibXmlSupport.h"
#include "base/StringTable.h"

#include <libxml/entities.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/valid.h>

#include <cstring>
#include <unordered_map>

namespace validation {

namespace {

bool hasEntityReference(xmlAttrPtr a)
{
    for (xmlNodePtr c = a->children; c; c = c->next) {
        if (c->type == XML_ENTITY_REF_NODE)
            return true;
    }
    return false;
}

class EntitySubstitution
{
public:
    EntitySubstitution(xmlDocPtr doc, xmlDtdPtr schemaDtd, std::vector<Unexpanded> *unexpanded)
        : m_doc(doc), m_schemaDtd(schemaDtd), m_unexpanded(unexpanded), m_external(doc->extSubset)
    {
        // Entities of the schema may refer to each other: while their
        // content is parsed, the schema is the copy's external subset.
        if (schemaDtd)
            doc->extSubset = schemaDtd;
    }
    ~EntitySubstitution()
    {
        m_doc->extSubset = m_external;
        for (const auto &[entity, content] : m_templates)
            xmlFreeNodeList(content.first);
    }
    EntitySubstitution(const EntitySubstitution &) = delete;
    EntitySubstitution &operator=(const EntitySubstitution &) = delete;

    bool apply(const Copied &copied)
    {
        for (xmlAttrPtr a : copied.attributes) {
            QByteArray value;
            for (xmlNodePtr c = a->children; c; c = c->next) {
                if (c->type == XML_ENTITY_REF_NODE) {
                    xmlEntityPtr e = lookup(c->name);
                    if (e && !expandText(e, &value, 0))
                        return false;
                } else if (c->content) {
                    value += reinterpret_cast<const char *>(c->content);
                }
            }
            xmlFreeNodeList(a->children);
            xmlNodePtr text = xmlNewDocTextLen(m_doc, reinterpret_cast<const xmlChar *>(value.constData()), int(value.size()));
            a->children = a->last = text;
            if (text)
                text->parent = reinterpret_cast<xmlNodePtr>(a);
        }
        for (xmlNodePtr r : copied.references) {
            if (!replace(r))
                return false;
        }
        return true;
    }

private:
    static constexpr qint64 kMaxAdded = 4'000'000; // nodes, or bytes of attribute values

    xmlEntityPtr lookup(const xmlChar *name) const
    {
        xmlEntityPtr e = xmlGetDocEntity(m_doc, name);
        if (!e && m_schemaDtd && m_schemaDtd->entities)
            e = static_cast<xmlEntityPtr>(xmlHashLookup(static_cast<xmlHashTablePtr>(m_schemaDtd->entities), name));
        return e && (e->etype == XML_INTERNAL_GENERAL_ENTITY || e->etype == XML_INTERNAL_PREDEFINED_ENTITY) ? e : nullptr;
    }

    // An entity's replacement text as an attribute value: references in it
    // are expanded in turn, character references decoded.
    bool expandText(xmlEntityPtr entity, QByteArray *out, int depth)
    {
        if (depth > 40)
            return false;
        const char *p = reinterpret_cast<const char *>(entity->content);
        while (p && *p) {
            const char *amp = std::strchr(p, '&');
            const char *semi = amp ? std::strchr(amp, ';') : nullptr;
            if (!amp || !semi) {
                out->append(p);
                break;
            }
            out->append(p, amp - p);
            const QByteArray name(amp + 1, semi - amp - 1);
            if (name.startsWith('#')) {
                bool ok = false;
                const uint code = name.startsWith("#x") ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
                const char32_t c = ok ? char32_t(code) : U'\uFFFD';
                out->append(QString::fromUcs4(&c, 1).toUtf8());
            } else if (xmlEntityPtr e = lookup(reinterpret_cast<const xmlChar *>(name.constData()))) {
                if (!expandText(e, out, depth + 1))
                    return false;
            }
            if (out->size() > kMaxAdded)
                return false;
            p = semi + 1;
        }
        m_added += out->size();
        return m_added <= kMaxAdded;
    }

    bool replace(xmlNodePtr reference)
    {
        xmlEntityPtr entity = lookup(reference->name);
        xmlNodePtr parent = reference->parent;
        if (!entity || !parent || parent->type != XML_ELEMENT_NODE)
            return true;
        auto found = m_templates.find(entity);
        if (found == m_templates.end()) {
            // Parsed once, where first used, with nested internal entities
            // substituted; external ones are not read.
            xmlNodePtr content = nullptr;
            bool failed = false;
            const int length = entity->content ? xmlStrlen(entity->content) : 0;
            // libxml2 leaves out an external entity it may not read without
            // an error: the scope tells.
            const libxml::ExternalLoadScope refusing(libxml::ExternalLoadScope::Refusing::All);
            if (length > 0 && (xmlParseInNodeContext(parent, reinterpret_cast<const char *>(entity->content), length,
                                                     XML_PARSE_NOENT | XML_PARSE_NONET, &content) != XML_ERR_OK
                               || !refusing.failure().isEmpty())) {
                xmlFreeNodeList(content);
                content = nullptr;
                failed = true;
            }
            qint64 size = 0;
            for (xmlNodePtr n = content; n; n = n->next)
                size += 1 + count(n->children);
            found = m_templates.emplace(entity, std::make_pair(content, failed ? -1 : size)).first;
        }
        if (found->second.second < 0) {
            m_unexpanded->push_back({parent, GetResString(2302).arg(QString::fromUtf8(reinterpret_cast<const char *>(reference->name)))});
            return true;
        }
        m_added += found->second.second;
        if (m_added > kMaxAdded)
            return false;
        for (xmlNodePtr n = found->second.first; n; n = n->next) {
            xmlNodePtr added = xmlDocCopyNode(n, m_doc, 1);
            if (added)
                xmlAddPrevSibling(reference, added);
        }
        xmlNodePtr before = reference->prev;
        xmlNodePtr after = reference->next;
        xmlUnlinkNode(reference);
        xmlFreeNode(reference);
        // Text on both sides is one text, as if the value had been typed.
        if (before && after && before->type == XML_TEXT_NODE && after->type == XML_TEXT_NODE && before->name == after->name)
            xmlTextMerge(before, after);
        return true;
    }

    static qint64 count(xmlNodePtr list)
    {
        qint64 n = 0;
        for (; list; list = list->next)
            n += 1 + (list->type == XML_ELEMENT_NODE ? count(list->children) : 0);
        return n;
    }

    xmlDocPtr m_doc;
    xmlDtdPtr m_schemaDtd;
    std::vector<Unexpanded> *m_unexpanded;
    xmlDtdPtr m_external;
    // Each entity's parsed content and its size in nodes (-1: it failed).
    std::unordered_map<xmlEntityPtr, std::pair<xmlNodePtr, qint64>> m_templates;
    qint64 m_added = 0;
};

} // namespace

xmlNodePtr origin(xmlNodePtr copied)
{
    for (xmlNodePtr n = copied; n && n->type != XML_DOCUMENT_NODE; n = n->parent) {
        if (n->_private)
            return static_cast<xmlNodePtr>(n->_private);
    }
    return nullptr;
}

// Walks both trees side by side, once; the copy's source offsets are of
// no use for finding the original's nodes.
Copied copyWithOrigins(xmlDocPtr original)
{
    Copied out;
    out.doc.reset(xmlCopyDoc(original, 1));
    if (!out.doc)
        return out;
    xmlNodePtr o = original->children;
    xmlNodePtr c = out.doc->children;
    while (o && c) {
        c->_private = o;
        if (c->type == XML_ENTITY_REF_NODE)
            out.references.push_back(c);
        if (o->type == XML_ELEMENT_NODE) {
            ++out.elements;
            xmlAttrPtr oa = o->properties;
            for (xmlAttrPtr ca = c->properties; ca && oa; ca = ca->next, oa = oa->next) {
                ca->_private = oa;
                if (hasEntityReference(ca))
                    out.attributes.push_back(ca);
            }
            if (o->children && c->children) {
                o = o->children;
                c = c->children;
                continue;
            }
        }
        while (o && !o->next && o->parent && o->parent->type != XML_DOCUMENT_NODE) {
            o = o->parent;
            c = c->parent;
        }
        o = o ? o->next : nullptr;
        c = c ? c->next : nullptr;
    }
    return out;
}

bool substituteEntities(Copied &copied, xmlDtdPtr schemaDtd, std::vector<Unexpanded> *unexpanded)
{
    if (copied.references.empty() && copied.attributes.empty())
        return true;
    EntitySubstitution substitution(copied.doc.get(), schemaDtd, unexpanded);
    return substitution.apply(copied);
}

bool validateWithSchema(xmlDocPtr doc, xmlSchemaPtr xsd)
{
    xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(xsd);
    if (!context)
        return false;
    xmlSchemaValidateDoc(context, doc);
    xmlSchemaFreeValidCtxt(context);
    return true;
}

SubsetSwap::SubsetSwap(xmlDocPtr doc, xmlDtdPtr dtd, bool own) : m_doc(doc), m_internal(doc->intSubset), m_external(doc->extSubset)
{
    if (!own)
        doc->intSubset = nullptr;
    if (dtd)
        doc->extSubset = dtd;
}

SubsetSwap::~SubsetSwap()
{
    m_doc->intSubset = m_internal;
    m_doc->extSubset = m_external;
}

DtdValidation::DtdValidation(xmlDocPtr doc, xmlDtdPtr dtd, bool ownSubset)
    : m_doc(doc), m_context(xmlNewValidCtxt()), m_subsets(doc, dtd, ownSubset)
{
    if (m_context) {
        m_context->error = nullptr; // errors go to the structured handler, with their nodes
        m_context->warning = nullptr;
    }
}

DtdValidation::~DtdValidation()
{
    if (m_context)
        xmlFreeValidCtxt(m_context);
}

bool DtdValidation::start()
{
    if (!m_context || !xmlValidateRoot(m_context, m_doc))
        return false;
    // A copy's table of IDs came with it; the validation makes its own.
    xmlFreeIDTable(static_cast<xmlIDTablePtr>(m_doc->ids));
    m_doc->ids = nullptr;
    xmlFreeRefTable(static_cast<xmlRefTablePtr>(m_doc->refs));
    m_doc->refs = nullptr;
    return true;
}

void DtdValidation::node(xmlNodePtr n)
{
    xmlValidateOneElement(m_context, m_doc, n);
    if (n->type != XML_ELEMENT_NODE)
        return;
    for (xmlAttrPtr a = n->properties; a; a = a->next) {
        // In line: libxml2 would otherwise escape non-ASCII characters as
        // references when the document declares no encoding, and compare
        // the escapes.
        xmlChar *value = xmlNodeListGetString(m_doc, a->children, 1);
        xmlValidateOneAttribute(m_context, m_doc, n, a, value);
        xmlFree(value);
    }
    for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
        xmlValidateOneNamespace(m_context, m_doc, n, n->ns ? n->ns->prefix : nullptr, ns, ns->href);
}

void DtdValidation::finish()
{
    xmlValidateDocumentFinal(m_context, m_doc);
}

void validateWithDtd(xmlDocPtr doc, xmlDtdPtr dtd, bool ownSubset, const std::function<bool(qint64)> &step)
{
    DtdValidation validation(doc, dtd, ownSubset);
    if (!validation.start())
        return;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    qint64 done = 0;
    bool going = true;
    for (xmlNodePtr e = root; e && going;) {
        validation.node(e);
        if (e->type == XML_ELEMENT_NODE) {
            going = step(++done);
            if (e->children) {
                e = e->children;
                continue;
            }
        }
        while (e != root && !e->next)
            e = e->parent;
        e = e == root ? nullptr : e->next;
    }
    if (going)
        validation.finish();
}

} // namespace validation
