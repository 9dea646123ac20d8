#include "SchemaGuide.h"

#include "xml/LibXmlSupport.h"
#include "xml/XmlDocument.h"
#include "xml/XmlNodeAccess.h"
#include "GuideErrors.h"
#include "RelaxNgPatterns.h"
#include "SubtreeCheck.h"
#include "ValidationCopy.h"

#include <QFileInfo>

#include <libxml/globals.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/schemasInternals.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>
#include <libxml/relaxng.h>
#include <libxml/xmlregexp.h>
#include <libxml/xmlschemas.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <functional>
#include <unordered_map>

using guide::Collector;
using guide::Quiet;
using libxml::fromXml;

namespace {

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

struct SchemaGuide::Schema
{
    xmlDtdPtr dtd = nullptr; // read from a file; the document's own subset is used where it is
    xmlSchemaPtr xsd = nullptr;
    xmlRelaxNGPtr rng = nullptr;
    std::unique_ptr<RelaxNgPatterns> patterns; // null: the grammar offers no names
    bool usable = false;
    bool keys = false; // identity constraints may be declared somewhere in it
    QString failure;

    ~Schema()
    {
        if (rng)
            xmlRelaxNGFree(rng);
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

    // A simple type's enumeration, through its restrictions; a union's
    // members' values; a boolean's two values.
    static QStringList values(xmlSchemaTypePtr type, int depth = 0)
    {
        for (; type && depth < 32; type = type->baseType, ++depth) {
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
            // A union: its members' values.
            if ((type->flags & XML_SCHEMAS_TYPE_VARIETY_UNION) && type->memberTypes) {
                for (xmlSchemaTypeLinkPtr member = type->memberTypes; member; member = member->next)
                    out += values(member->type, depth + 1);
                out.removeDuplicates();
                return out;
            }
        }
        return QStringList();
    }
};

namespace {

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
        s.keys = s.usable && validation::mayDeclareKeys(localFiles.loaded());
    } else if (source.kind == SchemaKind::Xdr) {
        s.usable = QFileInfo(source.path).isFile();
    } else if (source.kind == SchemaKind::RelaxNg) {
        libxml::ExternalLoadScope localFiles;
        if (xmlRelaxNGParserCtxtPtr parser = xmlRelaxNGNewParserCtxt(libxml::fileUri(source.path).constData())) {
            s.rng = xmlRelaxNGParse(parser);
            xmlRelaxNGFreeParserCtxt(parser);
        }
        s.failure = localFiles.failure();
        s.usable = s.rng && s.failure.isEmpty();
        // Read again for its names, the same parts through the same loader.
        if (s.usable)
            s.patterns = RelaxNgPatterns::read(source.path);
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

namespace {

// How a name fits where an element stands, by the parent's content model.
enum class Fit
{
    Rejected,   // the model refuses it, or a later child once it stands there
    Unfinished, // every child accepted; the parent's content lacks more to come
    Valid,      // the parent's whole content is accepted
};

// A name to try: an XSD declaration's local name and namespace, or a name
// as a DTD writes it (prefix included, no namespace).
struct Candidate
{
    const xmlChar *name;
    const xmlChar *ns;
};

QByteArray dtdName(xmlNodePtr n)
{
    const QByteArray local(reinterpret_cast<const char *>(n->name));
    return n->ns && n->ns->prefix ? QByteArray(reinterpret_cast<const char *>(n->ns->prefix)) + ':' + local : local;
}

// Runs the element children of `parent` through `model` as validation
// does (XSD by local name and namespace, DTD by qualified name), `at`
// named `candidate`.
Fit tryContent(xmlRegexpPtr model, xmlNodePtr parent, xmlNodePtr at, const Candidate &candidate, bool dtd)
{
    xmlRegExecCtxtPtr exec = xmlRegNewExecCtxt(model, nullptr, nullptr);
    if (!exec)
        return Fit::Rejected;
    bool reached = false;
    int state = 0;
    for (xmlNodePtr child = parent->children; child && state >= 0; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (child == at) {
            state = xmlRegExecPushString2(exec, candidate.name, candidate.ns, nullptr);
            reached = true;
        } else if (dtd) {
            state = xmlRegExecPushString(exec, reinterpret_cast<const xmlChar *>(dtdName(child).constData()), nullptr);
        } else {
            state = xmlRegExecPushString2(exec, child->name, child->ns ? child->ns->href : nullptr, nullptr);
        }
    }
    const bool complete = state >= 0 && xmlRegExecPushString(exec, nullptr, nullptr) == 1;
    xmlRegFreeExecCtxt(exec);
    return !reached || state < 0 ? Fit::Rejected : complete ? Fit::Valid : Fit::Unfinished;
}

// The declaration of `ns` in scope at `at` that binds a prefix to it, the
// prefix not hidden by a nearer declaration; null when there is none.
xmlNsPtr prefixFor(xmlDocPtr doc, xmlNodePtr at, const xmlChar *ns)
{
    if (xmlStrEqual(ns, XML_XML_NAMESPACE))
        return xmlSearchNs(doc, at, reinterpret_cast<const xmlChar *>("xml"));
    for (xmlNodePtr n = at; n && n->type == XML_ELEMENT_NODE; n = n->parent) {
        for (xmlNsPtr d = n->nsDef; d; d = d->next) {
            if (d->prefix && xmlStrEqual(d->href, ns) && xmlSearchNs(doc, at, d->prefix) == d)
                return d;
        }
    }
    return nullptr;
}

} // namespace

// Prefixes made up for namespaces that nothing declares where a name is
// offered, each namespace one prefix, none in scope there.
struct SchemaGuide::Declarations
{
    std::vector<std::pair<QByteArray, QString>> made; // namespace name, prefix

    QString prefixOf(xmlDocPtr doc, xmlNodePtr at, const xmlChar *ns)
    {
        const QByteArray uri(reinterpret_cast<const char *>(ns));
        for (const auto &[bound, prefix] : made) {
            if (bound == uri)
                return prefix;
        }
        for (int n = 1;; ++n) {
            const QString prefix = QStringLiteral("ns%1").arg(n);
            const bool taken = std::any_of(made.begin(), made.end(), [&](const auto &m) { return m.second == prefix; });
            if (!taken && !xmlSearchNs(doc, at, reinterpret_cast<const xmlChar *>(prefix.toUtf8().constData()))) {
                made.emplace_back(uri, prefix);
                return prefix;
            }
        }
    }
};

namespace {

// How an element named `name` in `ns` is written at `at` so that it lands
// in that namespace: unprefixed where the default namespace is `ns`, else
// with a prefix in scope, else with one made up in `made`. Empty when no
// way of writing it fits (no namespace under a default one).
QString elementSpelling(xmlDocPtr doc, xmlNodePtr at, const xmlChar *name, const xmlChar *ns, SchemaGuide::Declarations *made)
{
    const xmlNsPtr fallback = xmlSearchNs(doc, at, nullptr);
    const xmlChar *defaultNs = fallback && fallback->href && fallback->href[0] ? fallback->href : nullptr;
    if (!ns || !ns[0])
        return defaultNs ? QString() : fromXml(name);
    if (defaultNs && xmlStrEqual(defaultNs, ns))
        return fromXml(name);
    if (const xmlNsPtr bound = prefixFor(doc, at, ns))
        return qualifiedName(bound->prefix, name);
    return made->prefixOf(doc, at, ns) + QLatin1Char(':') + fromXml(name);
}

// Attributes take no default namespace: one in a namespace needs a prefix.
QString attributeSpelling(xmlDocPtr doc, xmlNodePtr at, const xmlChar *name, const xmlChar *ns, SchemaGuide::Declarations *made)
{
    if (!ns || !ns[0])
        return fromXml(name);
    if (const xmlNsPtr bound = prefixFor(doc, at, ns))
        return qualifiedName(bound->prefix, name);
    return made->prefixOf(doc, at, ns) + QLatin1Char(':') + fromXml(name);
}

// The names that fit, each once: those that leave the parent's content
// valid ahead of those after which it still lacks something, `own` first
// when it fits at all.
QStringList ranked(const QString &own, const QStringList &valid, const QStringList &unfinished)
{
    const QStringList all = ordered(QString(), valid + unfinished);
    return all.contains(own) ? ordered(own, all) : all;
}

void collectDtdNames(xmlElementContentPtr content, QStringList *names, int depth = 0)
{
    for (; content && depth < 256; content = content->c2, ++depth) {
        if (content->type == XML_ELEMENT_CONTENT_ELEMENT && content->name) {
            *names << qualifiedName(content->prefix, content->name);
            return;
        }
        if (content->type == XML_ELEMENT_CONTENT_PCDATA)
            return;
        collectDtdNames(content->c1, names, depth + 1);
    }
}

} // namespace

QStringList SchemaGuide::elementNames(const XmlNode &element) const
{
    Declarations made;
    return elementNames(element, &made);
}

QStringList SchemaGuide::elementNames(const XmlNode &element, Declarations *made) const
{
    auto *e = static_cast<xmlNodePtr>(XmlNodeAccess::raw(element));
    if (!m_schema->usable || !e || e->type != XML_ELEMENT_NODE || !e->doc)
        return QStringList();
    const Schema &s = *m_schema;
    xmlDocPtr doc = e->doc;
    const QString own = qualifiedName(e->ns ? e->ns->prefix : nullptr, e->name);
    xmlNodePtr parent = e->parent;
    const bool top = !parent || parent->type != XML_ELEMENT_NODE;
    const bool tried = !top && xmlChildElementCount(parent) <= kMaxTriedChildren;
    QStringList valid, unfinished;
    if (s.rng) {
        if (!s.patterns)
            return QStringList();
        for (const RelaxNgPatterns::Name &n : s.patterns->elementNames(e, tried)) {
            const auto *local = reinterpret_cast<const xmlChar *>(n.local.constData());
            const QString shown = n.fit == RelaxNgPatterns::Fit::Rejected ? QString()
                                : elementSpelling(doc, e, local, reinterpret_cast<const xmlChar *>(n.ns.constData()), made);
            if (!shown.isEmpty())
                (n.fit == RelaxNgPatterns::Fit::Valid ? valid : unfinished) << shown;
        }
        return ranked(own, valid, unfinished);
    }
    if (s.xsd) {
        // The parent's own particles first, then every global declaration
        // (members of substitution groups, matches of wildcards); the
        // content model the validator runs decides.
        std::vector<xmlSchemaElementPtr> candidates;
        xmlSchemaElementPtr parentDecl = top ? nullptr : s.declaration(parent);
        xmlSchemaTypePtr type = parentDecl ? parentDecl->subtypes : nullptr;
        // An element of no declared type takes any element.
        const bool anything = top || (type && type->type == XML_SCHEMA_TYPE_BASIC && type->builtInType == XML_SCHEMAS_ANYTYPE);
        if (!anything && (!Schema::hasElementContent(type) || !type->contModel))
            return QStringList();
        if (!top)
            candidates = Schema::children(parentDecl);
        std::vector<xmlSchemaElementPtr> globals;
        // Beyond the children tried, only the parent's own particles.
        if (anything || tried) {
            xmlHashScan(s.xsd->elemDecl, [](void *payload, void *data, const xmlChar *) {
                auto *decl = static_cast<xmlSchemaElementPtr>(payload);
                if (!(decl->flags & XML_SCHEMAS_ELEM_ABSTRACT))
                    static_cast<std::vector<xmlSchemaElementPtr> *>(data)->push_back(decl);
            }, &globals);
        }
        std::sort(globals.begin(), globals.end(), [](auto a, auto b) { return xmlStrcmp(a->name, b->name) < 0; });
        for (xmlSchemaElementPtr g : globals) {
            if (std::find(candidates.begin(), candidates.end(), g) == candidates.end())
                candidates.push_back(g);
        }
        for (xmlSchemaElementPtr c : candidates) {
            const Fit fit = anything ? Fit::Valid
                          : tried    ? tryContent(type->contModel, parent, e, {c->name, c->targetNamespace}, false)
                                     : Fit::Unfinished;
            const QString shown = fit == Fit::Rejected ? QString() : elementSpelling(doc, e, c->name, c->targetNamespace, made);
            if (!shown.isEmpty())
                (fit == Fit::Valid ? valid : unfinished) << shown;
        }
        return ranked(own, valid, unfinished);
    }
    if (!s.dtd && !m_source.ownDtd)
        return QStringList();
    const std::vector<xmlDtdPtr> subsets = s.subsets(doc, m_source.ownDtd);
    const auto declared = [&subsets] {
        QStringList names;
        for (xmlDtdPtr d : subsets)
            for (xmlNodePtr n = d->children; n; n = n->next)
                if (n->type == XML_ELEMENT_DECL)
                    names << qualifiedName(reinterpret_cast<xmlElementPtr>(n)->prefix, n->name);
        return names;
    };
    if (top) {
        if (m_source.ownDtd && doc->intSubset && doc->intSubset->name)
            valid << fromXml(doc->intSubset->name);
        return ranked(own, valid + declared(), {});
    }
    xmlElementPtr decl = nullptr;
    for (xmlDtdPtr d : subsets) {
        if ((decl = xmlGetDtdQElementDesc(d, parent->name, parent->ns ? parent->ns->prefix : nullptr)) && decl->etype != XML_ELEMENT_TYPE_UNDEFINED)
            break;
        decl = nullptr;
    }
    if (!decl || decl->etype == XML_ELEMENT_TYPE_EMPTY)
        return QStringList();
    if (decl->etype == XML_ELEMENT_TYPE_ANY)
        return ranked(own, declared(), {});
    QStringList model;
    collectDtdNames(decl->content, &model);
    model.removeDuplicates();
    // Mixed content takes its names in any order and number.
    if (decl->etype == XML_ELEMENT_TYPE_MIXED)
        return ranked(own, model, {});
    if (!decl->contModel) {
        Quiet quiet;
        xmlValidCtxt context{};
        xmlValidBuildContentModel(&context, decl);
    }
    if (!tried || !decl->contModel)
        return ranked(own, model, {});
    for (const QString &name : model) {
        const QByteArray written = name.toUtf8();
        const Fit fit = tryContent(decl->contModel, parent, e, {reinterpret_cast<const xmlChar *>(written.constData()), nullptr}, true);
        if (fit != Fit::Rejected)
            (fit == Fit::Valid ? valid : unfinished) << name;
    }
    return ranked(own, valid, unfinished);
}

namespace {

struct AttributeChoice
{
    QString name;
    bool required = false;
};

} // namespace

static std::vector<AttributeChoice> declaredAttributes(const SchemaGuide::Schema &s, bool ownDtd, xmlNodePtr e,
                                                      SchemaGuide::Declarations *made, xmlAttrPtr skipped = nullptr)
{
    std::vector<AttributeChoice> out;
    if (s.rng) {
        for (const RelaxNgPatterns::Name &n : s.patterns ? s.patterns->attributeNames(e, skipped) : std::vector<RelaxNgPatterns::Name>()) {
            out.push_back({attributeSpelling(e->doc, e, reinterpret_cast<const xmlChar *>(n.local.constData()),
                                             reinterpret_cast<const xmlChar *>(n.ns.constData()), made), n.required});
        }
        return out;
    }
    if (s.xsd) {
        for (SchemaAttributeUse *use : SchemaGuide::Schema::attributeUses(s.declaration(e))) {
            const QString shown = attributeSpelling(e->doc, e, use->attrDecl->name, use->attrDecl->targetNamespace, made);
            if (!shown.isEmpty())
                out.push_back({shown, use->occurs == XML_SCHEMAS_ATTR_USE_REQUIRED});
        }
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
    Declarations made;
    return attributeNames(element, own, &made);
}

QStringList SchemaGuide::attributeNames(const XmlNode &element, const XmlNode &own, Declarations *made) const
{
    auto *e = static_cast<xmlNodePtr>(XmlNodeAccess::raw(element));
    if (!m_schema->usable || !e || e->type != XML_ELEMENT_NODE)
        return QStringList();
    QStringList required, optional;
    auto *renamed = static_cast<xmlAttrPtr>(XmlNodeAccess::raw(own));
    for (const AttributeChoice &a : declaredAttributes(*m_schema, m_source.ownDtd, e, made, renamed)) {
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
    Declarations made;
    for (const AttributeChoice &a : declaredAttributes(*m_schema, m_source.ownDtd, e, &made)) {
        if (a.required && element.attributeNode(a.name).isNull())
            return a.name;
    }
    return QString();
}

std::pair<QString, QString> SchemaGuide::declarationFor(const XmlNode &element, const QString &name, bool attribute) const
{
    auto *e = static_cast<xmlNodePtr>(XmlNodeAccess::raw(element));
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    if (!e || e->type != XML_ELEMENT_NODE || colon <= 0
        || xmlSearchNs(e->doc, e, reinterpret_cast<const xmlChar *>(name.left(colon).toUtf8().constData())))
        return {};
    Declarations made;
    const QStringList offered = attribute ? attributeNames(element, XmlNode(), &made) : elementNames(element, &made);
    if (!offered.contains(name))
        return {};
    for (const auto &[uri, prefix] : made.made) {
        if (prefix == name.left(colon))
            return {prefix, QString::fromUtf8(uri)};
    }
    return {};
}

QStringList SchemaGuide::attributeValues(const XmlNode &attribute) const
{
    auto *a = static_cast<xmlAttrPtr>(XmlNodeAccess::raw(attribute));
    xmlNodePtr e = a ? a->parent : nullptr;
    if (!m_schema->usable || !e || a->type != XML_ATTRIBUTE_NODE)
        return QStringList();
    const Schema &s = *m_schema;
    if (s.rng)
        return s.patterns ? s.patterns->attributeValues(a) : QStringList();
    if (s.xsd) {
        for (SchemaAttributeUse *use : Schema::attributeUses(s.declaration(e))) {
            if (xmlStrEqual(use->attrDecl->name, a->name) && xmlStrEqual(use->attrDecl->targetNamespace, a->ns ? a->ns->href : nullptr))
                return Schema::values(use->attrDecl->subtypes);
        }
        return QStringList();
    }
    // Declared for the element's name as written, prefix and all.
    const QByteArray owner = dtdName(e);
    for (xmlDtdPtr d : s.subsets(e->doc, m_source.ownDtd)) {
        xmlAttributePtr decl = xmlGetDtdQAttrDesc(d, reinterpret_cast<const xmlChar *>(owner.constData()), a->name, a->ns ? a->ns->prefix : nullptr);
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

int SchemaGuide::check(const XmlDocument &document, std::vector<Fault> *faults, int max, PieceSize pieceSize,
                       bool *inPieces) const
{
    if (inPieces)
        *inPieces = false;
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
    std::vector<validation::SubtreeFault> found;
    int count = 0;
    if (((s.xsd && !s.keys) || m_source.kind == SchemaKind::Dtd)
        && validation::checkInPieces(original, s.xsd, s.dtd, m_source.ownDtd, pieceSize.nodes, pieceSize.perChild, max, &found, &count)) {
        for (const validation::SubtreeFault &f : found)
            entries.push_back({f.node, f.message});
        locate(original, entries, faults);
        if (inPieces)
            *inPieces = true;
        return count;
    }
    // The copy F7 validates, entities substituted alike, so that both say
    // the same; a copy of its own also keeps the check from writing to
    // pages the process shares with the window, each write a copy.
    validation::Copied copied = validation::copyWithOrigins(original);
    xmlDocPtr doc = copied.doc.get();
    if (!doc)
        return 0;
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
            validation::validateWithSchema(doc, s.xsd);
        } else if (s.rng) {
            if (xmlRelaxNGValidCtxtPtr context = xmlRelaxNGNewValidCtxt(s.rng)) {
                xmlRelaxNGValidateDoc(context, doc);
                xmlRelaxNGFreeValidCtxt(context);
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

bool SchemaGuide::checkWithin(const XmlNode &element, std::vector<std::pair<XmlNode, QString>> *faults) const
{
    const Schema &s = *m_schema;
    if (!s.usable || s.rng || s.keys || m_source.kind == SchemaKind::Xdr)
        return false;
    std::vector<validation::SubtreeFault> found;
    if (!validation::checkSubtree(static_cast<xmlNodePtr>(XmlNodeAccess::raw(element)), s.xsd, s.dtd, m_source.ownDtd, &found))
        return false;
    for (const validation::SubtreeFault &f : found)
        faults->emplace_back(XmlNodeAccess::handle(f.node), f.message);
    return true;
}
