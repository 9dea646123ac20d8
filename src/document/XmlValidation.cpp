#include "XmlValidation.h"

#include "LibXmlSupport.h"
#include "XdrValidator.h"
#include "XmlDocument.h"
#include "XmlNodeAccess.h"
#include "StringTable.h"

#include <QFile>
#include <QFileInfo>

#include <libxml/entities.h>
#include <libxml/globals.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlschemastypes.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <unordered_map>
#include <vector>

using libxml::fromXml;

namespace {

// Gathers libxml2's structured errors while alive, on this thread, and
// puts the previous handler back when it ends.
class ErrorCollector
{
public:
    explicit ErrorCollector(xmlDocPtr validated) : m_validated(validated)
    {
        m_previous = xmlStructuredError;
        m_previousContext = xmlStructuredErrorContext;
        xmlSetStructuredErrorFunc(this, &ErrorCollector::receive);
    }
    ~ErrorCollector() { xmlSetStructuredErrorFunc(m_previousContext, m_previous); }
    ErrorCollector(const ErrorCollector &) = delete;
    ErrorCollector &operator=(const ErrorCollector &) = delete;

    static void receive(void *self, xmlErrorPtr error) { static_cast<ErrorCollector *>(self)->add(error); }

    void add(xmlErrorPtr error)
    {
        if (!error)
            return;
        if (error->level == XML_ERR_WARNING) {
            // Not a fault, but when a schema cannot be read its warning
            // ("failed to load ...") is the reason.
            if (m_warning.isEmpty())
                m_warning = fromXml(reinterpret_cast<const xmlChar *>(error->message)).trimmed();
            return;
        }
        Entry entry;
        entry.reason = fromXml(reinterpret_cast<const xmlChar *>(error->message)).trimmed();
        auto *node = static_cast<xmlNodePtr>(error->node);
        if (node && m_validated && node->doc == m_validated)
            entry.node = node;
        else if (error->file && entry.reason.size())
            entry.reason = QStringLiteral("%1:%2: %3").arg(QString::fromUtf8(error->file)).arg(error->line).arg(entry.reason);
        m_entries.push_back(entry);
    }

    struct Entry
    {
        QString reason;
        xmlNodePtr node = nullptr;
    };
    const std::vector<Entry> &entries() const { return m_entries; }
    QString firstReason() const { return m_entries.empty() ? m_warning : m_entries.front().reason; }
    void setValidated(xmlDocPtr doc) { m_validated = doc; }

private:
    xmlDocPtr m_validated;
    xmlStructuredErrorFunc m_previous;
    void *m_previousContext;
    std::vector<Entry> m_entries;
    QString m_warning;
};

struct DocFree
{
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
using DocCopy = std::unique_ptr<xmlDoc, DocFree>;

// The document's node a node of the copy stands for: its own, or for
// content substituted from an entity, the element that held the reference.
xmlNodePtr origin(xmlNodePtr copied)
{
    for (xmlNodePtr n = copied; n && n->type != XML_DOCUMENT_NODE; n = n->parent) {
        if (n->_private)
            return static_cast<xmlNodePtr>(n->_private);
    }
    return nullptr;
}

bool hasEntityReference(xmlAttrPtr a)
{
    for (xmlNodePtr c = a->children; c; c = c->next) {
        if (c->type == XML_ENTITY_REF_NODE)
            return true;
    }
    return false;
}

// Copies `original` and walks both trees side by side, once: every node of
// the copy keeps its original in _private (the copy's source offsets are
// of no use), and the entity references are noted for substitution.
struct Copied
{
    DocCopy doc;
    std::vector<xmlNodePtr> references;
    std::vector<xmlAttrPtr> attributes; // values holding references
    qint64 elements = 0;
};
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

// Replaces the copy's references to internal entities by what they stand
// for. External entities are never read: their references stay. A bound
// on what substitution adds keeps "billion laughs" documents in check.
class EntitySubstitution
{
public:
    EntitySubstitution(xmlDocPtr doc, xmlDtdPtr schemaDtd) : m_doc(doc), m_schemaDtd(schemaDtd) {}
    ~EntitySubstitution()
    {
        for (const auto &[entity, content] : m_templates)
            xmlFreeNodeList(content.first);
    }
    EntitySubstitution(const EntitySubstitution &) = delete;
    EntitySubstitution &operator=(const EntitySubstitution &) = delete;

    // False when the document's entities expand beyond the bound.
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
            // substituted; the loader refuses external ones (no scope).
            xmlNodePtr content = nullptr;
            const int length = entity->content ? xmlStrlen(entity->content) : 0;
            if (length > 0 && xmlParseInNodeContext(parent, reinterpret_cast<const char *>(entity->content), length,
                                                    XML_PARSE_NOENT | XML_PARSE_NONET, &content) != XML_ERR_OK) {
                xmlFreeNodeList(content);
                content = nullptr;
            }
            qint64 size = 0;
            for (xmlNodePtr n = content; n; n = n->next)
                size += 1 + count(n->children);
            found = m_templates.emplace(entity, std::make_pair(content, size)).first;
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
    std::unordered_map<xmlEntityPtr, std::pair<xmlNodePtr, qint64>> m_templates;
    qint64 m_added = 0;
};

QString unreadable(const QString &path, const QString &reason)
{
    QString text = QStringLiteral("スキーマを読み込めません: ") + QFileInfo(path).fileName();
    if (!reason.isEmpty())
        text += QLatin1Char('\n') + reason;
    return text;
}

} // namespace

// What run() works on and leaves: only the copy and the schema, so it may
// run on a thread of its own.
struct ValidationWork
{
    SchemaKind kind = SchemaKind::None;
    QString schemaPath;
    QByteArray rootNamespace; // of the document's root element
    xmlDocPtr original = nullptr; // read by run() until `copyTaken` is kept
    std::promise<void> copyTaken;
    Copied copied;
    ValidationResult xdr; // checked on the document's thread
    QString schemaError;
    std::vector<ErrorCollector::Entry> errors; // nodes are the document's
    int errorCount = 0;
};

namespace {

// Reads a schema under a load scope of its own: the parts it names may be
// local regular files, found directly or through the catalogs. Any part
// refused or unreadable makes the schema unusable, named with its reason,
// rather than giving the document false errors.
template<typename Parse>
auto parseSchema(ValidationWork &w, Parse parse)
{
    ErrorCollector parsing(nullptr);
    libxml::ExternalLoadScope localFiles;
    auto schema = parse(libxml::fileUri(w.schemaPath));
    const QString failure = localFiles.failure();
    if (!schema || !failure.isEmpty())
        w.schemaError = unreadable(w.schemaPath, failure.isEmpty() ? parsing.firstReason() : failure);
    return schema;
}

void keepErrors(const ErrorCollector &collector, ValidationWork &w)
{
    for (const ErrorCollector::Entry &e : collector.entries()) {
        ++w.errorCount;
        if (w.errors.size() < size_t(ValidationResult::kMaxErrors))
            w.errors.push_back({e.reason, e.node ? origin(e.node) : nullptr});
    }
}

bool substituteEntities(ValidationWork &w, xmlDtdPtr schemaDtd)
{
    if (w.copied.references.empty() && w.copied.attributes.empty())
        return true;
    ErrorCollector quiet(nullptr);
    EntitySubstitution substitution(w.copied.doc.get(), schemaDtd);
    if (substitution.apply(w.copied))
        return true;
    w.schemaError = QStringLiteral("文書の実体の展開が大きすぎるため検証できません。");
    return false;
}

// xmlValidateDtd, element by element, so that it reports progress and can
// stop.
void validateDtd(ValidationWork &w, const std::atomic<bool> &cancelled, std::atomic<int> &progress,
                 const std::function<void(int)> &report)
{
    xmlDtdPtr dtd = parseSchema(w, [](const QByteArray &uri) {
        return xmlParseDTD(nullptr, reinterpret_cast<const xmlChar *>(uri.constData()));
    });
    if (!w.schemaError.isEmpty()) {
        xmlFreeDtd(dtd);
        return;
    }
    xmlDocPtr doc = w.copied.doc.get();
    if (!substituteEntities(w, dtd)) {
        xmlFreeDtd(dtd);
        return;
    }
    xmlValidCtxtPtr context = xmlNewValidCtxt();
    if (!context) {
        xmlFreeDtd(dtd);
        w.schemaError = unreadable(w.schemaPath, QStringLiteral("out of memory"));
        return;
    }
    context->error = nullptr; // errors go to the collector, with their nodes
    context->warning = nullptr;
    ErrorCollector collector(doc);
    xmlDtdPtr ownSubset = doc->intSubset;
    xmlDtdPtr ownExternal = doc->extSubset;
    doc->intSubset = nullptr;
    doc->extSubset = dtd;
    if (xmlValidateRoot(context, doc)) {
        xmlFreeIDTable(static_cast<xmlIDTablePtr>(doc->ids));
        doc->ids = nullptr;
        xmlFreeRefTable(static_cast<xmlRefTablePtr>(doc->refs));
        doc->refs = nullptr;
        xmlNodePtr root = xmlDocGetRootElement(doc);
        const qint64 total = std::max<qint64>(1, w.copied.elements);
        qint64 done = 0;
        for (xmlNodePtr e = root; e && !cancelled;) {
            xmlValidateOneElement(context, doc, e);
            if (e->type == XML_ELEMENT_NODE) {
                if (++done % 4096 == 0) {
                    progress = int(std::min<qint64>(999, done * 1000 / total));
                    if (report)
                        report(progress);
                }
                for (xmlAttrPtr a = e->properties; a; a = a->next) {
                    xmlChar *value = xmlNodeListGetString(doc, a->children, 0);
                    xmlValidateOneAttribute(context, doc, e, a, value);
                    xmlFree(value);
                }
                for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next)
                    xmlValidateOneNamespace(context, doc, e, e->ns ? e->ns->prefix : nullptr, ns, ns->href);
                if (e->children) {
                    e = e->children;
                    continue;
                }
            }
            while (e != root && !e->next)
                e = e->parent;
            e = e == root ? nullptr : e->next;
        }
        if (!cancelled)
            xmlValidateDocumentFinal(context, doc);
    }
    doc->intSubset = ownSubset;
    doc->extSubset = ownExternal;
    xmlFreeValidCtxt(context);
    keepErrors(collector, w);
    xmlFreeDtd(dtd);
}

void validateXsd(ValidationWork &w)
{
    xmlSchemaPtr schema = parseSchema(w, [](const QByteArray &uri) {
        xmlSchemaPtr parsed = nullptr;
        if (xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(uri.constData())) {
            parsed = xmlSchemaParse(parser);
            xmlSchemaFreeParserCtxt(parser);
        }
        return parsed;
    });
    if (!w.schemaError.isEmpty()) {
        if (schema)
            xmlSchemaFree(schema);
        return;
    }
    // A schema with a target namespace is for documents in it; without
    // one, for whatever the document holds, as ever.
    const QByteArray target(reinterpret_cast<const char *>(schema->targetNamespace));
    if (schema->targetNamespace && target != w.rootNamespace) {
        const auto shown = [](const QByteArray &ns) { return ns.isEmpty() ? QStringLiteral("(なし)") : QString::fromUtf8(ns); };
        w.schemaError = GetResString(21).arg(shown(target), shown(w.rootNamespace));
        xmlSchemaFree(schema);
        return;
    }
    xmlSchemaValidCtxtPtr context = substituteEntities(w, nullptr) ? xmlSchemaNewValidCtxt(schema) : nullptr;
    if (context) {
        ErrorCollector collector(w.copied.doc.get());
        xmlSchemaValidateDoc(context, w.copied.doc.get());
        xmlSchemaFreeValidCtxt(context);
        keepErrors(collector, w);
    } else if (w.schemaError.isEmpty()) {
        w.schemaError = unreadable(w.schemaPath, QStringLiteral("out of memory"));
    }
    xmlSchemaFree(schema);
}

} // namespace

ValidationRun::ValidationRun(const XmlDocument &document, const QString &schemaPath, SchemaKind kind)
    : m_work(std::make_unique<ValidationWork>())
{
    ValidationWork &w = *m_work;
    w.kind = kind;
    w.schemaPath = QFileInfo(schemaPath).absoluteFilePath();
    auto *doc = static_cast<xmlDocPtr>(document.rawDocument());
    if (!QFileInfo(schemaPath).isFile()) {
        w.schemaError = unreadable(schemaPath, QStringLiteral("ファイルが見つかりません。"));
        return;
    }
    if (!doc) {
        w.schemaError = unreadable(schemaPath, QString());
        return;
    }
    libxml::ensureInitialized();
    // Validation reads every node, which the mapping of a large file's
    // bytes may still be writing to beside the window.
    document.settle();
    if (kind == SchemaKind::Xdr) {
        libxml::ExternalLoadScope localFiles;
        w.xdr = XdrValidator::validate(document, schemaPath);
        if (!w.xdr.schemaError.isEmpty())
            w.schemaError = unreadable(schemaPath, w.xdr.schemaError);
        return;
    }
    if (kind != SchemaKind::Dtd && kind != SchemaKind::Xsd)
        return;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    if (root && root->ns && root->ns->href)
        w.rootNamespace = reinterpret_cast<const char *>(root->ns->href);
    // run() copies the document where it runs; changes wait for that.
    w.original = doc;
    document.waitBeforeChanges(w.copyTaken.get_future().share());
}

ValidationRun::~ValidationRun() = default;

void ValidationRun::run()
{
    ValidationWork &w = *m_work;
    if (!w.original)
        return;
    w.copied = copyWithOrigins(w.original);
    w.original = nullptr;
    w.copyTaken.set_value();
    if (!w.copied.doc) {
        w.schemaError = unreadable(w.schemaPath, QStringLiteral("out of memory"));
        return;
    }
    if (w.kind == SchemaKind::Dtd)
        validateDtd(w, m_cancelled, m_progress, m_report);
    else
        validateXsd(w);
    if (m_leaveCopy)
        (void)w.copied.doc.release();
    w.copied = Copied(); // the copy goes with the thread that made use of it
    m_progress = 1000;
}

ValidationResult ValidationRun::result(bool withNodes) const
{
    const ValidationWork &w = *m_work;
    if (w.kind == SchemaKind::Xdr && w.schemaError.isEmpty())
        return w.xdr;
    ValidationResult result;
    result.schemaError = w.schemaError;
    if (!result.schemaError.isEmpty())
        return result;
    result.errorCount = w.errorCount;
    for (const ErrorCollector::Entry &e : w.errors)
        result.errors.append({e.reason, withNodes && e.node ? XmlNodeAccess::handle(e.node) : XmlNode()});
    return result;
}

SchemaKind schemaKindOf(const QString &fileName)
{
    const QString ending = fileName.right(4).toLower();
    if (ending == QLatin1String(".dtd"))
        return SchemaKind::Dtd;
    if (ending == QLatin1String(".xsd"))
        return SchemaKind::Xsd;
    if (ending == QLatin1String(".xml"))
        return SchemaKind::Xdr;
    return SchemaKind::None;
}

ValidationResult validateDocument(const XmlDocument &document, const QString &schemaPath, SchemaKind kind)
{
    ValidationRun run(document, schemaPath, kind);
    run.run();
    return run.result();
}
