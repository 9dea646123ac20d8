#include "SchemaGuide.h"

#include "xml/LibXmlSupport.h"
#include "xml/XmlDocument.h"
#include "xml/XmlNodeAccess.h"
#include "ValidationCopy.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <libxml/catalog.h>
#include <libxml/globals.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/schemasInternals.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <functional>
#include <unordered_map>

using libxml::fromXml;

namespace {

const xmlChar *xsiNamespace = reinterpret_cast<const xmlChar *>("http://www.w3.org/2001/XMLSchema-instance");

// libxml2 keeps a compiled schema's content models and attribute uses in
// structures of its own source file; these mirror the leading members
// every such component shares (libxml2 2.9 and later).
struct SchemaTreeItem
{
    xmlSchemaTypeType type;
    void *annot;
    SchemaTreeItem *next;
    SchemaTreeItem *children; // a particle's term, a model group's particles
};
struct SchemaItemList
{
    void **items;
    int nbItems;
    int sizeItems;
};
struct SchemaAttributeUse
{
    xmlSchemaTypeType type;
    void *annot;
    SchemaAttributeUse *next;
    xmlSchemaAttributePtr attrDecl;
    int flags;
    xmlNodePtr node;
    int occurs;
};

bool remote(const QString &location)
{
    const QUrl url(location);
    return url.scheme().size() > 1 && url.scheme() != QLatin1String("file");
}

// A location a document names, as a local regular file.
QString localFile(const QString &location, const QString &folder)
{
    if (location.isEmpty() || remote(location))
        return QString();
    QString path = location.startsWith(QLatin1String("file:")) ? QUrl(location).toLocalFile() : location;
    if (QDir::isRelativePath(path)) {
        if (folder.isEmpty())
            return QString();
        path = QDir(folder).absoluteFilePath(path);
    }
    const QFileInfo info(path);
    return info.isFile() ? info.absoluteFilePath() : QString();
}

// The external part of the document's own DTD: through the catalogs first,
// then beside the document.
QString ownDtdFile(xmlDtdPtr subset, const QString &folder)
{
    if (!subset->SystemID && !subset->ExternalID)
        return QString();
    if (xmlChar *mapped = xmlCatalogResolve(subset->ExternalID, subset->SystemID)) {
        const QString found = localFile(fromXml(mapped), folder);
        xmlFree(mapped);
        if (!found.isEmpty())
            return found;
    }
    return subset->SystemID ? localFile(fromXml(subset->SystemID), folder) : QString();
}

QString xsiLocation(xmlNodePtr root, const QString &folder)
{
    if (xmlChar *plain = xmlGetNsProp(root, reinterpret_cast<const xmlChar *>("noNamespaceSchemaLocation"), xsiNamespace)) {
        const QString found = localFile(fromXml(plain).trimmed(), folder);
        xmlFree(plain);
        if (!found.isEmpty())
            return found;
    }
    xmlChar *pairs = xmlGetNsProp(root, reinterpret_cast<const xmlChar *>("schemaLocation"), xsiNamespace);
    if (!pairs)
        return QString();
    const QStringList words = fromXml(pairs).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    xmlFree(pairs);
    const QString rootNs = root->ns && root->ns->href ? fromXml(root->ns->href) : QString();
    for (int i = 0; i + 1 < words.size(); i += 2) {
        if (words[i] == rootNs)
            return localFile(words[i + 1], folder);
    }
    return QString();
}

// Silences libxml2's reports while a query tries names out.
class Quiet
{
public:
    Quiet() : m_previous(xmlStructuredError), m_context(xmlStructuredErrorContext)
    {
        xmlSetStructuredErrorFunc(nullptr, [](void *, xmlErrorPtr) {});
    }
    ~Quiet() { xmlSetStructuredErrorFunc(m_context, m_previous); }
    Quiet(const Quiet &) = delete;
    Quiet &operator=(const Quiet &) = delete;

private:
    xmlStructuredErrorFunc m_previous;
    void *m_context;
};

// Collects faults with the document's nodes.
class Collector
{
public:
    struct Entry
    {
        void *node;
        QString message;
    };
    Collector(xmlDocPtr doc, std::vector<Entry> *faults, int max) : m_doc(doc), m_faults(faults), m_max(max)
    {
        m_previous = xmlStructuredError;
        m_context = xmlStructuredErrorContext;
        xmlSetStructuredErrorFunc(this, [](void *self, xmlErrorPtr error) { static_cast<Collector *>(self)->add(error); });
    }
    ~Collector() { xmlSetStructuredErrorFunc(m_context, m_previous); }
    Collector(const Collector &) = delete;
    Collector &operator=(const Collector &) = delete;

    int count = 0;

    void add(xmlNodePtr node, const QString &message)
    {
        if (++count <= m_max)
            m_faults->push_back({node, message});
    }

private:
    void add(xmlErrorPtr error)
    {
        if (!error || error->level == XML_ERR_WARNING)
            return;
        auto *node = static_cast<xmlNodePtr>(error->node);
        add(node && node->doc == m_doc ? node : nullptr, libxml::withLocalPaths(fromXml(reinterpret_cast<const xmlChar *>(error->message)).trimmed()));
    }

    xmlDocPtr m_doc;
    std::vector<Entry> *m_faults;
    int m_max;
    xmlStructuredErrorFunc m_previous;
    void *m_context;
};

QString qualifiedName(const xmlChar *prefix, const xmlChar *name)
{
    return prefix ? fromXml(prefix) + QLatin1Char(':') + fromXml(name) : fromXml(name);
}

// Names in order, each once, `first` ahead when given.
QStringList ordered(const QString &first, const QStringList &names)
{
    QStringList out;
    if (!first.isEmpty())
        out << first;
    for (const QString &n : names) {
        if (!out.contains(n))
            out << n;
    }
    return out;
}

} // namespace

QString SchemaSource::shownName() const
{
    if (!path.isEmpty())
        return QFileInfo(path).fileName();
    return ownDtd ? QStringLiteral("DOCTYPE") : QString();
}

bool precedesInDocument(const XmlNode &a, const XmlNode &b)
{
    auto *x = static_cast<xmlNodePtr>(XmlNodeAccess::raw(a));
    auto *y = static_cast<xmlNodePtr>(XmlNodeAccess::raw(b));
    return x && y && xmlXPathCmpNodes(x, y) == 1;
}

SchemaSource schemaInUse(const XmlDocument &document, const QString &chosenPath, const QString &documentPath)
{
    if (!chosenPath.isEmpty() && schemaKindOf(chosenPath) != SchemaKind::None)
        return {schemaKindOf(chosenPath), chosenPath, false};
    auto *doc = static_cast<xmlDocPtr>(document.rawDocument());
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc) : nullptr;
    if (!root)
        return {};
    libxml::ensureInitialized();
    // Where the document was read from, else where the window keeps it.
    QString from = doc->URL ? localFile(fromXml(doc->URL), QString()) : QString();
    if (from.isEmpty())
        from = documentPath;
    const QString folder = from.isEmpty() ? QString() : QFileInfo(from).absolutePath();
    if (xmlDtdPtr own = doc->intSubset) {
        const QString file = ownDtdFile(own, folder);
        if (!file.isEmpty() || own->elements)
            return {SchemaKind::Dtd, file, true};
    }
    const QString xsd = xsiLocation(root, folder);
    if (!xsd.isEmpty())
        return {SchemaKind::Xsd, xsd, false};
    return {};
}

struct SchemaGuide::Schema
{
    xmlDtdPtr dtd = nullptr; // read from a file; the document's own subset is used where it is
    xmlSchemaPtr xsd = nullptr;
    bool usable = false;
    QString failure;

    ~Schema()
    {
        if (dtd)
            xmlFreeDtd(dtd);
        if (xsd)
            xmlSchemaFree(xsd);
    }

    // DTD: the declarations in force, the document's own subset first.
    std::vector<xmlDtdPtr> subsets(xmlDocPtr doc, bool own) const
    {
        std::vector<xmlDtdPtr> out;
        if (own && doc && doc->intSubset)
            out.push_back(doc->intSubset);
        if (dtd)
            out.push_back(dtd);
        return out;
    }

    // XSD: the declaration of `e`, followed from the root's down through
    // each ancestor's content model.
    xmlSchemaElementPtr declaration(xmlNodePtr e) const
    {
        std::vector<xmlNodePtr> chain;
        for (xmlNodePtr n = e; n && n->type == XML_ELEMENT_NODE; n = n->parent)
            chain.push_back(n);
        xmlSchemaElementPtr decl = nullptr;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            xmlNodePtr step = *it;
            const xmlChar *ns = step->ns ? step->ns->href : nullptr;
            xmlSchemaElementPtr found = nullptr;
            if (decl) {
                for (xmlSchemaElementPtr c : children(decl)) {
                    if (xmlStrEqual(c->name, step->name) && xmlStrEqual(c->targetNamespace, ns)) {
                        found = c;
                        break;
                    }
                }
            }
            if (!found)
                found = global(step->name, ns);
            if (!found)
                return nullptr;
            decl = found;
        }
        return decl;
    }

    xmlSchemaElementPtr global(const xmlChar *name, const xmlChar *ns) const
    {
        if (!xmlStrEqual(ns, xsd->targetNamespace) || !xsd->elemDecl)
            return nullptr;
        return static_cast<xmlSchemaElementPtr>(xmlHashLookup(xsd->elemDecl, name));
    }

    static bool hasElementContent(xmlSchemaTypePtr type)
    {
        return type && type->type == XML_SCHEMA_TYPE_COMPLEX
            && (type->contentType == XML_SCHEMA_CONTENT_ELEMENTS || type->contentType == XML_SCHEMA_CONTENT_MIXED);
    }

    // The element declarations among the particles of `decl`'s type.
    static std::vector<xmlSchemaElementPtr> children(xmlSchemaElementPtr decl)
    {
        std::vector<xmlSchemaElementPtr> out;
        if (!hasElementContent(decl->subtypes))
            return out;
        std::function<void(SchemaTreeItem *, int)> walk = [&](SchemaTreeItem *particle, int depth) {
            for (SchemaTreeItem *p = particle; p && depth < 64; p = p->next) {
                SchemaTreeItem *term = p->type == XML_SCHEMA_TYPE_PARTICLE ? p->children : nullptr;
                if (term && term->type == XML_SCHEMA_TYPE_GROUP)
                    term = term->children;
                if (!term)
                    continue;
                if (term->type == XML_SCHEMA_TYPE_ELEMENT) {
                    auto *element = reinterpret_cast<xmlSchemaElementPtr>(term);
                    if (!(element->flags & XML_SCHEMAS_ELEM_ABSTRACT)
                        && std::find(out.begin(), out.end(), element) == out.end())
                        out.push_back(element);
                } else if (term->type == XML_SCHEMA_TYPE_SEQUENCE || term->type == XML_SCHEMA_TYPE_CHOICE
                           || term->type == XML_SCHEMA_TYPE_ALL) {
                    walk(term->children, depth + 1);
                }
            }
        };
        walk(reinterpret_cast<SchemaTreeItem *>(decl->subtypes->subtypes), 0);
        return out;
    }

    static std::vector<SchemaAttributeUse *> attributeUses(xmlSchemaElementPtr decl)
    {
        std::vector<SchemaAttributeUse *> out;
        xmlSchemaTypePtr type = decl ? decl->subtypes : nullptr;
        auto *list = type && type->type == XML_SCHEMA_TYPE_COMPLEX ? static_cast<SchemaItemList *>(type->attrUses) : nullptr;
        for (int i = 0; list && i < list->nbItems; ++i) {
            auto *use = static_cast<SchemaAttributeUse *>(list->items[i]);
            if (use && use->type == XML_SCHEMA_TYPE_ATTRIBUTE_USE && use->attrDecl)
                out.push_back(use);
        }
        return out;
    }

    // A simple type's enumeration, through its restrictions; a boolean's
    // two values.
    static QStringList values(xmlSchemaTypePtr type)
    {
        for (int depth = 0; type && depth < 32; type = type->baseType, ++depth) {
            if (type->type == XML_SCHEMA_TYPE_BASIC)
                return type->builtInType == XML_SCHEMAS_BOOLEAN ? QStringList{QStringLiteral("true"), QStringLiteral("false")}
                                                                 : QStringList();
            QStringList out;
            for (xmlSchemaFacetPtr f = type->facets; f; f = f->next) {
                if (f->type == XML_SCHEMA_FACET_ENUMERATION && f->value)
                    out << fromXml(f->value);
            }
            if (!out.isEmpty())
                return out;
        }
        return QStringList();
    }
};

namespace {

// Makes the schema's DTD the document's for a query or a check, as
// validation against a chosen file does, and puts the document's back.
class SubsetSwap
{
public:
    SubsetSwap(xmlDocPtr doc, xmlDtdPtr dtd, bool own)
        : m_doc(doc), m_internal(doc->intSubset), m_external(doc->extSubset)
    {
        if (!own)
            doc->intSubset = nullptr;
        if (dtd)
            doc->extSubset = dtd;
    }
    ~SubsetSwap()
    {
        m_doc->intSubset = m_internal;
        m_doc->extSubset = m_external;
    }
    SubsetSwap(const SubsetSwap &) = delete;
    SubsetSwap &operator=(const SubsetSwap &) = delete;

private:
    xmlDocPtr m_doc;
    xmlDtdPtr m_internal;
    xmlDtdPtr m_external;
};

// Beyond this many children, trying each name against the parent's content
// model costs more than a list is worth; the model's names are offered.
constexpr int kMaxTriedChildren = 2000;

} // namespace

SchemaGuide::SchemaGuide(const XmlDocument &document, const SchemaSource &source)
    : m_source(source), m_schema(std::make_unique<Schema>())
{
    libxml::ensureInitialized();
    Schema &s = *m_schema;
    Quiet quiet;
    if (source.kind == SchemaKind::Dtd) {
        if (!source.path.isEmpty()) {
            libxml::ExternalLoadScope localFiles;
            s.dtd = xmlParseDTD(nullptr, reinterpret_cast<const xmlChar *>(libxml::fileUri(source.path).constData()));
            s.failure = localFiles.failure();
            s.usable = s.dtd && s.failure.isEmpty();
        } else {
            auto *doc = static_cast<xmlDocPtr>(document.rawDocument());
            s.usable = source.ownDtd && doc && doc->intSubset;
        }
    } else if (source.kind == SchemaKind::Xsd) {
        libxml::ExternalLoadScope localFiles;
        if (xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(libxml::fileUri(source.path).constData())) {
            s.xsd = xmlSchemaParse(parser);
            xmlSchemaFreeParserCtxt(parser);
        }
        s.failure = localFiles.failure();
        s.usable = s.xsd && s.failure.isEmpty();
    } else if (source.kind == SchemaKind::Xdr) {
        s.usable = QFileInfo(source.path).isFile();
    }
}

SchemaGuide::~SchemaGuide() = default;

QString SchemaGuide::failure() const
{
    return m_schema->failure;
}

bool SchemaGuide::isUsable() const
{
    return m_schema->usable;
}

QStringList SchemaGuide::elementNames(const XmlNode &element) const
{
    auto *e = static_cast<xmlNodePtr>(XmlNodeAccess::raw(element));
    if (!m_schema->usable || !e || e->type != XML_ELEMENT_NODE || !e->doc)
        return QStringList();
    const Schema &s = *m_schema;
    const QString own = qualifiedName(e->ns ? e->ns->prefix : nullptr, e->name);
    xmlNodePtr parent = e->parent;
    const bool top = !parent || parent->type != XML_ELEMENT_NODE;
    QStringList names;
    if (s.xsd) {
        if (top) {
            xmlHashScan(s.xsd->elemDecl, [](void *payload, void *data, const xmlChar *) {
                auto *decl = static_cast<xmlSchemaElementPtr>(payload);
                if (!(decl->flags & XML_SCHEMAS_ELEM_ABSTRACT))
                    static_cast<QStringList *>(data)->append(fromXml(decl->name));
            }, &names);
            names.sort();
        } else if (xmlSchemaElementPtr decl = s.declaration(parent)) {
            for (xmlSchemaElementPtr c : Schema::children(decl))
                names << fromXml(c->name);
        }
        return ordered(own, names);
    }
    if (!s.dtd && !m_source.ownDtd)
        return QStringList();
    const std::vector<xmlDtdPtr> subsets = s.subsets(e->doc, m_source.ownDtd);
    if (top) {
        if (m_source.ownDtd && e->doc->intSubset && e->doc->intSubset->name)
            names << fromXml(e->doc->intSubset->name);
        for (xmlDtdPtr d : subsets)
            for (xmlNodePtr n = d->children; n; n = n->next)
                if (n->type == XML_ELEMENT_DECL)
                    names << qualifiedName(reinterpret_cast<xmlElementPtr>(n)->prefix, n->name);
        return ordered(own, names);
    }
    xmlElementPtr decl = nullptr;
    for (xmlDtdPtr d : subsets) {
        if ((decl = xmlGetDtdQElementDesc(d, parent->name, parent->ns ? parent->ns->prefix : nullptr)) && decl->etype != XML_ELEMENT_TYPE_UNDEFINED)
            break;
        decl = nullptr;
    }
    if (!decl)
        return QStringList{own};
    QStringList model;
    if (decl->etype == XML_ELEMENT_TYPE_ANY) {
        for (xmlDtdPtr d : subsets)
            for (xmlNodePtr n = d->children; n; n = n->next)
                if (n->type == XML_ELEMENT_DECL)
                    model << qualifiedName(reinterpret_cast<xmlElementPtr>(n)->prefix, n->name);
        return ordered(own, model);
    }
    const xmlChar *found[256];
    int count = 0;
    if (decl->content)
        xmlValidGetPotentialChildren(decl->content, found, &count, 256);
    std::vector<const xmlChar *> candidates;
    for (int i = 0; i < count; ++i) {
        if (found[i] && found[i][0] != '#') {
            candidates.push_back(found[i]);
            model << fromXml(found[i]);
        }
    }
    // Of the model's names, those that keep the parent's content valid in
    // this place, as libxml2's valid-elements query tries them.
    if (xmlChildElementCount(parent) <= kMaxTriedChildren && !e->ns) {
        Quiet quiet;
        SubsetSwap swap(e->doc, s.dtd, m_source.ownDtd);
        xmlValidCtxt context{};
        const xmlChar *name = e->name;
        for (const xmlChar *candidate : candidates) {
            e->name = candidate;
            if (xmlValidateOneElement(&context, e->doc, parent))
                names << fromXml(candidate);
        }
        e->name = name;
    }
    return ordered(own, names.isEmpty() ? model : names);
}

namespace {

struct AttributeChoice
{
    QString name;
    bool required = false;
};

} // namespace

static std::vector<AttributeChoice> declaredAttributes(const SchemaGuide::Schema &s, bool ownDtd, xmlNodePtr e)
{
    std::vector<AttributeChoice> out;
    if (s.xsd) {
        for (SchemaAttributeUse *use : SchemaGuide::Schema::attributeUses(s.declaration(e)))
            out.push_back({fromXml(use->attrDecl->name), use->occurs == XML_SCHEMAS_ATTR_USE_REQUIRED});
        return out;
    }
    for (xmlDtdPtr d : s.subsets(e->doc, ownDtd)) {
        xmlElementPtr decl = xmlGetDtdQElementDesc(d, e->name, e->ns ? e->ns->prefix : nullptr);
        for (xmlAttributePtr a = decl ? decl->attributes : nullptr; a; a = a->nexth)
            out.push_back({qualifiedName(a->prefix, a->name), a->def == XML_ATTRIBUTE_REQUIRED});
    }
    return out;
}

QStringList SchemaGuide::attributeNames(const XmlNode &element, const XmlNode &own) const
{
    auto *e = static_cast<xmlNodePtr>(XmlNodeAccess::raw(element));
    if (!m_schema->usable || !e || e->type != XML_ELEMENT_NODE)
        return QStringList();
    QStringList required, optional;
    for (const AttributeChoice &a : declaredAttributes(*m_schema, m_source.ownDtd, e)) {
        if (!element.attributeNode(a.name).isNull())
            continue;
        (a.required ? required : optional) << a.name;
    }
    return ordered(own.isNull() ? QString() : own.nodeName(), required + optional);
}

QString SchemaGuide::missingRequiredAttribute(const XmlNode &element) const
{
    auto *e = static_cast<xmlNodePtr>(XmlNodeAccess::raw(element));
    if (!m_schema->usable || !e || e->type != XML_ELEMENT_NODE)
        return QString();
    for (const AttributeChoice &a : declaredAttributes(*m_schema, m_source.ownDtd, e)) {
        if (a.required && element.attributeNode(a.name).isNull())
            return a.name;
    }
    return QString();
}

QStringList SchemaGuide::attributeValues(const XmlNode &attribute) const
{
    auto *a = static_cast<xmlAttrPtr>(XmlNodeAccess::raw(attribute));
    xmlNodePtr e = a ? a->parent : nullptr;
    if (!m_schema->usable || !e || a->type != XML_ATTRIBUTE_NODE)
        return QStringList();
    const Schema &s = *m_schema;
    if (s.xsd) {
        for (SchemaAttributeUse *use : Schema::attributeUses(s.declaration(e))) {
            if (xmlStrEqual(use->attrDecl->name, a->name))
                return Schema::values(use->attrDecl->subtypes);
        }
        return QStringList();
    }
    for (xmlDtdPtr d : s.subsets(e->doc, m_source.ownDtd)) {
        xmlAttributePtr decl = xmlGetDtdQAttrDesc(d, e->name, a->name, a->ns ? a->ns->prefix : nullptr);
        if (!decl)
            continue;
        QStringList out;
        if (decl->atype == XML_ATTRIBUTE_ENUMERATION || decl->atype == XML_ATTRIBUTE_NOTATION) {
            for (xmlEnumerationPtr v = decl->tree; v; v = v->next)
                out << fromXml(v->name);
        }
        return out;
    }
    return QStringList();
}

namespace {

// The faults' positions and routes, found in one walk of `doc`.
void locate(xmlDocPtr doc, const std::vector<Collector::Entry> &entries, std::vector<SchemaGuide::Fault> *faults)
{
    std::unordered_map<void *, SchemaGuide::Fault> found;
    for (const Collector::Entry &e : entries) {
        if (e.node)
            found.emplace(e.node, SchemaGuide::Fault());
    }
    std::size_t left = found.size();
    if (left > 0) {
        libxml::forEachInDocumentOrder(doc, [&](void *node, qint64 n, const libxml::NodeRoute &route) {
            auto it = found.find(node);
            if (it != found.end() && it->second.position < 0) {
                it->second.position = n;
                it->second.route = route;
                --left;
            }
            return left > 0;
        });
    }
    for (const Collector::Entry &e : entries) {
        SchemaGuide::Fault f = e.node ? found[e.node] : SchemaGuide::Fault();
        f.message = e.message;
        faults->push_back(std::move(f));
    }
}

} // namespace

int SchemaGuide::check(const XmlDocument &document, std::vector<Fault> *faults, int max) const
{
    auto *original = static_cast<xmlDocPtr>(document.rawDocument());
    const Schema &s = *m_schema;
    if (!original || !s.usable)
        return 0;
    std::vector<Collector::Entry> entries;
    if (m_source.kind == SchemaKind::Xdr) {
        const ValidationResult result = validateDocument(document, m_source.path, SchemaKind::Xdr);
        for (const ValidationError &e : result.errors) {
            if (int(entries.size()) < max)
                entries.push_back({XmlNodeAccess::raw(e.node), e.reason});
        }
        locate(original, entries, faults);
        return result.errorCount;
    }
    // The copy F7 validates, entities substituted alike, so that both say
    // the same; a copy of its own also keeps the check from writing to
    // pages the process shares with the window, each write a copy.
    validation::Copied copied = validation::copyWithOrigins(original);
    xmlDocPtr doc = copied.doc.get();
    if (!doc)
        return 0;
    int count = 0;
    {
        std::vector<validation::Unexpanded> unexpanded;
        bool substituted;
        {
            Quiet quiet;
            substituted = validation::substituteEntities(copied, s.dtd, &unexpanded);
        }
        if (!substituted)
            return 0;
        Collector collector(doc, &entries, max);
        for (const validation::Unexpanded &u : unexpanded)
            collector.add(u.element, u.message);
        if (s.xsd) {
            if (xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(s.xsd)) {
                xmlSchemaValidateDoc(context, doc);
                xmlSchemaFreeValidCtxt(context);
            }
        } else {
            validation::validateWithDtd(doc, s.dtd, m_source.ownDtd, [](qint64) { return true; });
        }
        count = collector.count;
    }
    // The faults by the document's nodes, where they stand in it.
    for (Collector::Entry &e : entries)
        e.node = e.node ? validation::origin(static_cast<xmlNodePtr>(e.node)) : nullptr;
    locate(original, entries, faults);
    return count;
}
