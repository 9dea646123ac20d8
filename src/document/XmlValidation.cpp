#include "XmlValidation.h"

#include "LibXmlSupport.h"
#include "XdrValidator.h"
#include "XmlDocument.h"
#include "XmlNodeAccess.h"

#include <QFile>
#include <QFileInfo>

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlschemastypes.h>

#include <memory>
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
        if (!error || error->level == XML_ERR_WARNING)
            return;
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
    QString firstReason() const { return m_entries.empty() ? QString() : m_entries.front().reason; }
    void setValidated(xmlDocPtr doc) { m_validated = doc; }

private:
    xmlDocPtr m_validated;
    xmlStructuredErrorFunc m_previous;
    void *m_previousContext;
    std::vector<Entry> m_entries;
};

struct DocFree
{
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
using DocCopy = std::unique_ptr<xmlDoc, DocFree>;

// The node of `original` standing where `copied` stands in its copy. Both
// trees have the same shape, so the path of positions from the top leads
// there. Null for nodes outside the tree (inside an entity's content).
xmlNodePtr counterpart(xmlNodePtr copied, xmlDocPtr original)
{
    std::vector<std::pair<bool, int>> path; // (is attribute, position)
    for (xmlNodePtr n = copied; n && n->type != XML_DOCUMENT_NODE; n = n->parent) {
        int position = 0;
        if (n->type == XML_ATTRIBUTE_NODE) {
            if (!n->parent)
                return nullptr;
            for (xmlAttrPtr a = n->parent->properties; a && reinterpret_cast<xmlNodePtr>(a) != n; a = a->next)
                ++position;
        } else {
            for (xmlNodePtr s = n->prev; s; s = s->prev)
                ++position;
        }
        path.emplace_back(n->type == XML_ATTRIBUTE_NODE, position);
        if (n->parent && n->parent->type != XML_ELEMENT_NODE && n->parent->type != XML_DOCUMENT_NODE)
            return nullptr;
    }
    xmlNodePtr at = reinterpret_cast<xmlNodePtr>(original);
    for (auto it = path.rbegin(); it != path.rend() && at; ++it) {
        if (it->first) {
            xmlAttrPtr a = at->type == XML_ELEMENT_NODE ? at->properties : nullptr;
            for (int i = 0; a && i < it->second; ++i)
                a = a->next;
            at = reinterpret_cast<xmlNodePtr>(a);
        } else {
            xmlNodePtr c = at->children;
            for (int i = 0; c && i < it->second; ++i)
                c = c->next;
            at = c;
        }
    }
    return at;
}

void takeErrors(const ErrorCollector &collector, xmlDocPtr original, ValidationResult *result)
{
    for (const ErrorCollector::Entry &e : collector.entries()) {
        ++result->errorCount;
        if (result->errors.size() >= ValidationResult::kMaxErrors)
            continue;
        xmlNodePtr node = e.node ? counterpart(e.node, original) : nullptr;
        result->errors.append({e.reason, node ? XmlNodeAccess::handle(node) : XmlNode()});
    }
}

QString unreadable(const QString &path, const QString &reason)
{
    QString text = QStringLiteral("スキーマを読み込めません: ") + QFileInfo(path).fileName();
    if (!reason.isEmpty())
        text += QLatin1Char('\n') + reason;
    return text;
}

void validateDtd(xmlDocPtr original, const QString &schemaPath, ValidationResult *result)
{
    const QByteArray path = QFile::encodeName(schemaPath);
    xmlDtdPtr dtd = nullptr;
    {
        ErrorCollector parsing(nullptr);
        dtd = xmlParseDTD(nullptr, reinterpret_cast<const xmlChar *>(path.constData()));
        if (!dtd) {
            result->schemaError = unreadable(schemaPath, parsing.firstReason());
            return;
        }
    }
    // The copy takes the ID table and the attribute types validation
    // writes; the window's document keeps its own.
    DocCopy copy(xmlCopyDoc(original, 1));
    xmlValidCtxtPtr context = xmlNewValidCtxt();
    if (!copy || !context) {
        xmlFreeDtd(dtd);
        xmlFreeValidCtxt(context);
        result->schemaError = unreadable(schemaPath, QStringLiteral("out of memory"));
        return;
    }
    context->error = nullptr; // errors go to the collector, with their nodes
    context->warning = nullptr;
    ErrorCollector collector(copy.get());
    xmlValidateDtd(context, copy.get(), dtd);
    xmlFreeValidCtxt(context);
    xmlFreeDtd(dtd);
    takeErrors(collector, original, result);
}

void validateXsd(xmlDocPtr original, const QString &schemaPath, ValidationResult *result)
{
    const QByteArray path = QFile::encodeName(schemaPath);
    xmlSchemaPtr schema = nullptr;
    {
        ErrorCollector parsing(nullptr);
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(path.constData());
        if (parser) {
            schema = xmlSchemaParse(parser);
            xmlSchemaFreeParserCtxt(parser);
        }
        if (!schema) {
            result->schemaError = unreadable(schemaPath, parsing.firstReason());
            return;
        }
    }
    if (schema->targetNamespace) {
        result->schemaError = unreadable(schemaPath, QStringLiteral("名前空間なしの文書を検証するスキーマではありません (targetNamespace=\"%1\")")
                                                         .arg(fromXml(schema->targetNamespace)));
        xmlSchemaFree(schema);
        return;
    }
    DocCopy copy(xmlCopyDoc(original, 1));
    xmlSchemaValidCtxtPtr context = copy ? xmlSchemaNewValidCtxt(schema) : nullptr;
    if (context) {
        ErrorCollector collector(copy.get());
        xmlSchemaValidateDoc(context, copy.get());
        xmlSchemaFreeValidCtxt(context);
        takeErrors(collector, original, result);
    } else {
        result->schemaError = unreadable(schemaPath, QStringLiteral("out of memory"));
    }
    xmlSchemaFree(schema);
}

} // namespace

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
    ValidationResult result;
    if (!QFileInfo(schemaPath).isFile()) {
        result.schemaError = unreadable(schemaPath, QStringLiteral("ファイルが見つかりません。"));
        return result;
    }
    auto *doc = static_cast<xmlDocPtr>(document.rawDocument());
    if (!doc) {
        result.schemaError = unreadable(schemaPath, QString());
        return result;
    }
    libxml::ensureInitialized();
    // Local files the schema names may be read; the network never.
    libxml::ExternalLoadScope localFiles;
    switch (kind) {
    case SchemaKind::Dtd: validateDtd(doc, schemaPath, &result); break;
    case SchemaKind::Xsd: validateXsd(doc, schemaPath, &result); break;
    case SchemaKind::Xdr:
        result = XdrValidator::validate(document, schemaPath);
        if (!result.schemaError.isEmpty())
            result.schemaError = unreadable(schemaPath, result.schemaError);
        break;
    case SchemaKind::None: break;
    }
    return result;
}
