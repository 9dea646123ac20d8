#include "XmlValidation.h"

#include "base/StringTable.h"
#include "xml/LibXmlSupport.h"
#include "ValidationCopy.h"
#include "XdrValidator.h"
#include "xml/LibXmlSupport.h"
#include "xml/XmlDocument.h"
#include "xml/XmlNodeAccess.h"

#include <QFile>
#include <QFileInfo>

#include <libxml/entities.h>
#include <libxml/globals.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/relaxng.h>
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
using validation::Copied;
using validation::copyWithOrigins;
using validation::origin;

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

    void add(xmlNodePtr node, const QString &reason) { m_entries.push_back({reason, node}); }
    void add(xmlErrorPtr error)
    {
        if (!error)
            return;
        if (error->level == XML_ERR_WARNING) {
            // Not a fault, but when a schema cannot be read its warning
            // ("failed to load ...") is the reason.
            if (m_warning.isEmpty())
                m_warning = libxml::withLocalPaths(fromXml(reinterpret_cast<const xmlChar *>(error->message)).trimmed());
            return;
        }
        Entry entry;
        entry.reason = fromXml(reinterpret_cast<const xmlChar *>(error->message)).trimmed();
        auto *node = static_cast<xmlNodePtr>(error->node);
        if (node && m_validated && node->doc == m_validated)
            entry.node = node;
        else if (error->file && entry.reason.size())
            entry.reason = QStringLiteral("%1:%2: %3").arg(QString::fromUtf8(error->file)).arg(error->line).arg(entry.reason);
        entry.reason = libxml::withLocalPaths(entry.reason);
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

bool substituteEntities(ValidationWork &w, xmlDtdPtr schemaDtd, ErrorCollector &collector)
{
    std::vector<validation::Unexpanded> unexpanded;
    bool done;
    {
        ErrorCollector quiet(nullptr);
        done = validation::substituteEntities(w.copied, schemaDtd, &unexpanded);
    }
    if (!done) {
        w.schemaError = QStringLiteral("文書の実体の展開が大きすぎるため検証できません。");
        return false;
    }
    for (const validation::Unexpanded &u : unexpanded)
        collector.add(u.element, u.message);
    return true;
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
    ErrorCollector collector(doc);
    if (substituteEntities(w, dtd, collector)) {
        const qint64 total = std::max<qint64>(1, w.copied.elements);
        validation::validateWithDtd(doc, dtd, false, [&](qint64 done) {
            if (done % 4096 == 0) {
                progress = int(std::min<qint64>(999, done * 1000 / total));
                if (report)
                    report(progress);
            }
            return !cancelled;
        });
        keepErrors(collector, w);
    }
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
    ErrorCollector collector(w.copied.doc.get());
    xmlSchemaValidCtxtPtr context = substituteEntities(w, nullptr, collector) ? xmlSchemaNewValidCtxt(schema) : nullptr;
    if (context) {
        xmlSchemaValidateDoc(context, w.copied.doc.get());
        xmlSchemaFreeValidCtxt(context);
        keepErrors(collector, w);
    } else if (w.schemaError.isEmpty()) {
        w.schemaError = unreadable(w.schemaPath, QStringLiteral("out of memory"));
    }
    xmlSchemaFree(schema);
}

void validateRelaxNg(ValidationWork &w)
{
    xmlRelaxNGPtr grammar = parseSchema(w, [](const QByteArray &uri) {
        xmlRelaxNGPtr parsed = nullptr;
        if (xmlRelaxNGParserCtxtPtr parser = xmlRelaxNGNewParserCtxt(uri.constData())) {
            parsed = xmlRelaxNGParse(parser);
            xmlRelaxNGFreeParserCtxt(parser);
        }
        return parsed;
    });
    if (!w.schemaError.isEmpty()) {
        if (grammar)
            xmlRelaxNGFree(grammar);
        return;
    }
    ErrorCollector collector(w.copied.doc.get());
    xmlRelaxNGValidCtxtPtr context = substituteEntities(w, nullptr, collector) ? xmlRelaxNGNewValidCtxt(grammar) : nullptr;
    if (context) {
        xmlRelaxNGValidateDoc(context, w.copied.doc.get());
        xmlRelaxNGFreeValidCtxt(context);
        keepErrors(collector, w);
    } else if (w.schemaError.isEmpty()) {
        w.schemaError = unreadable(w.schemaPath, QStringLiteral("out of memory"));
    }
    xmlRelaxNGFree(grammar);
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
    if (kind != SchemaKind::Dtd && kind != SchemaKind::Xsd && kind != SchemaKind::RelaxNg)
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
    else if (w.kind == SchemaKind::RelaxNg)
        validateRelaxNg(w);
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
    if (ending == QLatin1String(".rng"))
        return SchemaKind::RelaxNg;
    return SchemaKind::None;
}

bool isCompactRelaxNg(const QString &fileName)
{
    return fileName.right(4).toLower() == QLatin1String(".rnc");
}

ValidationResult validateDocument(const XmlDocument &document, const QString &schemaPath, SchemaKind kind)
{
    ValidationRun run(document, schemaPath, kind);
    run.run();
    return run.result();
}
