// Reading a document from bytes: the parse and what is cleaned up after it.
#include "XmlDocument.h"

#include "Encodings.h"
#include "LibXmlSupport.h"
#include "XmlDocumentInternal.h"
#include "XmlDocumentObserver.h"

#include <QFile>
#include <QRegularExpression>

#include <libxml/tree.h>
#include <libxml/parser.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_map>

using namespace xmldoc;

namespace {

// Without entity substitution the parser hands a namespace URI over with
// each '&' as "&#38;" (meant for a second parse that namespace URIs never
// get); store the URI itself.
void decodeNamespaceUris(xmlNodePtr element)
{
    for (xmlNsPtr ns = element->nsDef; ns; ns = ns->next) {
        if (!ns->href || !xmlStrstr(ns->href, BAD_CAST "&#38;"))
            continue;
        const QByteArray uri = QByteArray(reinterpret_cast<const char *>(ns->href)).replace("&#38;", "&");
        xmlFree(const_cast<xmlChar *>(ns->href));
        ns->href = xmlStrdup(xc(uri));
    }
}

// The indentation unit of a source: a tab, or the smallest run of blanks
// that starts an indented line; two blanks when nothing is indented.
QString detectIndent(const QByteArray &bytes)
{
    const int limit = int(std::min<qsizetype>(bytes.size(), 256 * 1024));
    int smallest = 0;
    int lines = 0;
    for (int i = 0; i < limit && lines < 64; ++i) {
        if (bytes[i] != '\n')
            continue;
        int j = i + 1;
        auto skipNul = [&] {
            while (j < limit && bytes[j] == '\0')
                ++j;
        };
        skipNul();
        // A tab counts only where it indents markup, not inside text.
        int k = j;
        while (k < limit && (bytes[k] == '\t' || bytes[k] == '\0'))
            ++k;
        if (k > j && bytes[j] == '\t' && k < limit && bytes[k] == '<')
            return QStringLiteral("\t");
        int blanks = 0;
        while (j < limit && (bytes[j] == ' ' || bytes[j] == '\0')) {
            if (bytes[j] == ' ')
                ++blanks;
            ++j;
        }
        if (blanks > 0 && j < limit && bytes[j] == '<') {
            ++lines;
            if (smallest == 0 || blanks < smallest)
                smallest = blanks;
        }
    }
    return smallest > 0 ? QString(std::min(smallest, 16), QLatin1Char(' ')) : QStringLiteral("  ");
}

// The XML declaration's content (between "<?xml" and "?>"), or a null
// string when the source has none. Works for ASCII-compatible encodings and
// UTF-16 alike, as the declaration itself is ASCII.
QString declarationOf(const QByteArray &bytes)
{
    QByteArray head;
    const int limit = int(std::min<qsizetype>(bytes.size(), 1024));
    int start = 0;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        start = 3;
    else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        start = 2;
    for (int i = start; i < limit; ++i)
        if (bytes[i] != '\0')
            head.append(bytes[i]);
    if (!head.startsWith("<?xml") || head.size() < 6 || !QChar::isSpace(uchar(head[5])))
        return QString();
    const int end = int(head.indexOf("?>"));
    if (end < 0)
        return QString();
    return QString::fromLatin1(head.mid(5, end - 5)).trimmed();
}

// A parse that failed on bytes its encoding cannot decode reports only
// what the parser saw next (often "premature end of data"); say instead
// which encoding the bytes are not valid in, and where.
void explainUndecodableBytes(const QByteArray &bytes, XmlParseError *error)
{
    QString encoding;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        encoding = QStringLiteral("UTF-16");
    } else {
        static const QRegularExpression re(QStringLiteral("encoding\\s*=\\s*([\"'])([^\"']*)\\1"));
        encoding = re.match(declarationOf(bytes)).captured(2).trimmed();
    }
    const bool declared = !encoding.isEmpty() && !bytes.startsWith("\xFF\xFE") && !bytes.startsWith("\xFE\xFF");
    if (encoding.isEmpty())
        encoding = QStringLiteral("UTF-8");
    int line = 0;
    QByteArray sequence;
    if (!libxml::findUndecodable(bytes, encoding, &line, &sequence) || (error->line > 0 && line > error->line))
        return;
    QStringList hex;
    for (const char c : sequence)
        hex << QStringLiteral("0x") + QString::number(uchar(c), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    error->errorCode = XML_ERR_INVALID_ENCODING;
    error->reason = QStringLiteral("%1文字コード「%2」として正しくないバイト列があります (%3)。")
                        .arg(declared ? QStringLiteral("宣言された") : QString(), encoding, hex.join(QLatin1Char(' ')));
    error->line = line;
    error->column = 0;
}

// Entity references stay nodes in the tree, but text() and XPath string
// values expand them. The parser stops nested amplification ("billion
// laughs") but not many references to one large entity, which would expand
// to gigabytes, so the expanded size of all references is bounded at load.
constexpr qint64 kExpansionAllowance = 10 * 1024 * 1024;
constexpr qint64 kExpansionFactor = 5;

class ExpansionCounter
{
public:
    explicit ExpansionCounter(xmlDocPtr doc, qint64 limit) : m_doc(doc), m_limit(limit) {}

    qint64 sizeOfReference(xmlNodePtr ref, int depth = 0)
    {
        xmlEntityPtr ent = ref->children && ref->children->type == XML_ENTITY_DECL
            ? reinterpret_cast<xmlEntityPtr>(ref->children)
            : xmlGetDocEntity(m_doc, ref->name);
        if (!ent)
            return 0;
        const auto known = m_sizes.find(ent);
        if (known != m_sizes.end())
            return known->second;
        m_sizes[ent] = m_limit + 1; // a cycle counts as unbounded
        if (depth > 64)
            return m_limit + 1;
        qint64 size = 0;
        forEachInList(ent->children, [&](xmlNodePtr n) {
            if (n->type == XML_ENTITY_REF_NODE)
                size += sizeOfReference(n, depth + 1);
            else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE)
                size += xmlStrlen(n->content);
            return size <= m_limit;
        });
        m_sizes[ent] = size;
        return size;
    }

private:
    xmlDocPtr m_doc;
    qint64 m_limit;
    std::unordered_map<xmlEntityPtr, qint64> m_sizes;
};

// The source line of a node; nodes inside attribute values have none, so
// the element's is used.
int lineOf(xmlNodePtr n)
{
    if (n->parent && n->parent->type == XML_ATTRIBUTE_NODE)
        n = n->parent->parent;
    const long line = n ? xmlGetLineNo(n) : 0;
    return line > 0 ? int(line) : 0;
}

// The reference at which the expanded size of the document's entity
// references passes `limit`, or null.
xmlNodePtr excessiveExpansion(xmlDocPtr doc, qint64 limit)
{
    if (!doc->intSubset || !doc->intSubset->entities)
        return nullptr; // no declared entities, nothing to expand
    ExpansionCounter counter(doc, limit);
    qint64 total = 0;
    xmlNodePtr excess = nullptr;
    forEachInList(doc->children, [&](xmlNodePtr n) {
        if (n->type == XML_ENTITY_REF_NODE) {
            total += counter.sizeOfReference(n);
            if (total > limit)
                excess = n;
        }
        return !excess;
    });
    return excess;
}

// The errors of the parse running on this thread. The first error is the
// reason a load fails (what follows it is often only its consequence, as
// "Extra content" after a text node the parser refused); a namespace slip
// (an error that leaves the document well-formed) is the reason only when
// nothing else went wrong.
struct ParseErrors
{
    XmlParseError first;
    XmlParseError firstNamespace;
};

thread_local ParseErrors *t_parseErrors = nullptr;

void recordParseError(void *, xmlErrorPtr error)
{
    if (!t_parseErrors || !error || error->level < XML_ERR_ERROR)
        return;
    XmlParseError &slot = error->domain == XML_FROM_NAMESPACE ? t_parseErrors->firstNamespace : t_parseErrors->first;
    if (slot.errorCode != 0)
        return;
    slot.errorCode = error->code ? error->code : -1;
    slot.reason = QString::fromUtf8(error->message ? error->message : "").trimmed();
    slot.line = error->line;
    slot.column = error->int2;
}

// Texts, comments and attribute values over 10 MB (an embedded image, an
// attachment) need XML_PARSE_HUGE, which also lifts libxml2's bounds on
// entity expansion. Those bounds matter only where an expansion can grow
// exponentially: a parameter entity, or a general entity whose value
// refers to others. The first such declaration puts the bounds back for
// the rest of the parse, before any reference to it can be expanded.
thread_local entityDeclSAXFunc t_entityDecl = nullptr;

void entityDeclWithBounds(void *context, const xmlChar *name, int type, const xmlChar *publicId,
                          const xmlChar *systemId, xmlChar *content)
{
    auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
    const bool parameter = type == XML_INTERNAL_PARAMETER_ENTITY || type == XML_EXTERNAL_PARAMETER_ENTITY;
    if (parameter || (content && (xmlStrchr(content, '&') || xmlStrchr(content, '%'))))
        ctxt->options &= ~XML_PARSE_HUGE;
    if (t_entityDecl)
        t_entityDecl(context, name, type, publicId, systemId, content);
}

// Short texts are kept inside their nodes (XML_PARSE_COMPACT), which saves
// one allocation each: about a twentieth of a large document's memory.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_BIG_LINES | XML_PARSE_COMPACT
    | XML_PARSE_HUGE;

// Progress of the parse running on this thread: every so many start tags
// the caller hears how many bytes the parser has consumed, and may stop it.
struct ParseProgress
{
    const XmlDocument::Progress *report;
    qint64 total;
    startElementNsSAX2Func startElement;
    unsigned count = 0;
    bool stopped = false;
};

thread_local ParseProgress *t_parseProgress = nullptr;

void startElementWithProgress(void *context, const xmlChar *localname, const xmlChar *prefix, const xmlChar *uri,
                              int nbNamespaces, const xmlChar **namespaces, int nbAttributes, int nbDefaulted,
                              const xmlChar **attributes)
{
    ParseProgress *p = t_parseProgress;
    p->startElement(context, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes, nbDefaulted, attributes);
    if (++p->count % 4096 != 0 || p->stopped)
        return;
    auto *ctxt = static_cast<xmlParserCtxtPtr>(context);
    const qint64 done = ctxt->input ? qint64(ctxt->input->consumed) + (ctxt->input->cur - ctxt->input->base) : 0;
    if (!(*p->report)(std::min(done, p->total), p->total)) {
        p->stopped = true;
        xmlStopParser(ctxt);
    }
}

// Feeds the parser from bytes already in memory. xmlCtxtReadMemory would
// first copy them all into a buffer of its own, a second copy of the file.
struct ByteReader
{
    const char *data;
    qsizetype left;
    static int read(void *context, char *buffer, int length)
    {
        auto *r = static_cast<ByteReader *>(context);
        const int n = int(std::min<qsizetype>(length, r->left));
        std::memcpy(buffer, r->data, size_t(n));
        r->data += n;
        r->left -= n;
        return n;
    }
};

} // namespace

struct XmlDocument::ParseResult
{
    xmlDocPtr doc = nullptr;
    XmlParseError error;
    bool byteOrderMark = false;
    QString indent;
    qint64 size = 0;
    QByteArray source; // the bytes of a file, kept for saving over them
};

static XmlDocument::ParseResult parseBytesInternal(const QByteArray &bytes, const QString &url, bool forceUtf8,
                                                   const XmlDocument::Progress *progress = nullptr)
{
    libxml::ensureInitialized();
    XmlDocument::ParseResult result;
    if (bytes.size() > std::numeric_limits<int>::max()) {
        result.error = {-1, QStringLiteral("file too large: the parser reads at most 2 GB"), 0, 0};
        return result;
    }
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        result.error = {-1, QStringLiteral("out of memory"), 0, 0};
        return result;
    }
    ctxt->sax->serror = recordParseError;
    t_entityDecl = ctxt->sax->entityDecl;
    ctxt->sax->entityDecl = entityDeclWithBounds;
    ParseErrors errors;
    t_parseErrors = &errors;
    std::optional<ParseProgress> parseProgress;
    if (progress && *progress && ctxt->sax->startElementNs) {
        parseProgress.emplace(ParseProgress{progress, bytes.size(), ctxt->sax->startElementNs});
        ctxt->sax->startElementNs = startElementWithProgress;
        t_parseProgress = &*parseProgress;
    }
    // The base URI of relative references: a file's as a file: URI, so that
    // blanks, '%' and '#' in its folders stay part of the path.
    const QByteArray urlBytes = url.isEmpty()                          ? QByteArray()
                                : url.contains(QLatin1String("://")) ? url.toUtf8()
                                                                      : libxml::fileUri(url);
    // A string is already decoded: the encoding its declaration names is the
    // file's, not the string's.
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, bytes.constData(), int(bytes.size()),
                                      urlBytes.isEmpty() ? nullptr : urlBytes.constData(),
                                      forceUtf8 ? "UTF-8" : nullptr,
                                      kParseOptions | (forceUtf8 ? XML_PARSE_IGNORE_ENC : 0));
    t_parseErrors = nullptr;
    t_parseProgress = nullptr;
    if (parseProgress && parseProgress->stopped) {
        if (doc)
            xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        result.error = {-1, QStringLiteral("cancelled"), 0, 0};
        return result;
    }
    if (!doc || !ctxt->wellFormed) {
        if (doc)
            xmlFreeDoc(doc);
        result.error = errors.first.errorCode != 0 ? errors.first : errors.firstNamespace;
        if (result.error.errorCode == 0) {
            const xmlError *last = xmlCtxtGetLastError(ctxt);
            result.error.errorCode = last && last->code ? last->code : -1;
            result.error.reason = last && last->message ? QString::fromUtf8(last->message).trimmed()
                                                        : QStringLiteral("document is not well-formed");
            result.error.line = last ? last->line : 0;
            result.error.column = last ? last->int2 : 0;
        }
        if (!forceUtf8)
            explainUndecodableBytes(bytes, &result.error);
        xmlFreeParserCtxt(ctxt);
        return result;
    }
    xmlFreeParserCtxt(ctxt);

    const qint64 expansionLimit = kExpansionAllowance + kExpansionFactor * bytes.size();
    if (const xmlNodePtr excess = excessiveExpansion(doc, expansionLimit)) {
        result.error = {XML_ERR_ENTITY_LOOP,
                        QStringLiteral("entity references expand to more than %1 bytes").arg(expansionLimit),
                        lineOf(excess), 0};
        xmlFreeDoc(doc);
        return result;
    }

    libxml::stripBlankText(reinterpret_cast<xmlNodePtr>(doc), false, decodeNamespaceUris);

    const QString declaration = declarationOf(bytes);
    if (!declaration.isNull()) {
        const QByteArray content = utf8(declaration);
        xmlNodePtr pi = xmlNewDocPI(doc, BAD_CAST "xml", xc(content));
        pi->parent = reinterpret_cast<xmlNodePtr>(doc);
        pi->next = doc->children;
        if (doc->children)
            doc->children->prev = pi;
        else
            doc->last = pi;
        doc->children = pi;
    }
    result.doc = doc;
    result.byteOrderMark = !forceUtf8 && bytes.startsWith("\xEF\xBB\xBF");
    result.indent = detectIndent(bytes);
    result.size = bytes.size();
    if (!forceUtf8)
        result.source = bytes;
    return result;
}

bool XmlDocument::adopt(ParseResult &&result)
{
    if (!result.doc) {
        m_parseError = result.error;
        return false;
    }
    freeContent();
    m_doc = result.doc;
    m_parseError = XmlParseError();
    m_byteOrderMark = result.byteOrderMark;
    m_indentUnit = result.indent;
    m_sourceSize = result.size;
    keepSource(result.source);
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->documentReplaced();
    return true;
}

bool XmlDocument::load(const QString &path, const Progress &progress)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_parseError = {-1, QStringLiteral("ファイルを開けません: %1 (%2)").arg(path, file.errorString()), 0, 0};
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_parseError = {-1, QStringLiteral("ファイルを読み込めません: %1 (%2)").arg(path, file.errorString()), 0, 0};
        return false;
    }
    file.close();
    return adopt(parseBytesInternal(bytes, path, false, &progress));
}

bool XmlDocument::loadXML(const QString &xml)
{
    return adopt(parseBytesInternal(utf8(xml), QString(), true));
}

bool XmlDocument::loadBytes(const QByteArray &bytes, const QString &sourceUrl)
{
    return adopt(parseBytesInternal(bytes, sourceUrl, false));
}

std::unique_ptr<XmlDocument> XmlDocument::parse(const QString &xml, XmlParseError *error)
{
    auto doc = std::make_unique<XmlDocument>();
    if (!doc->loadXML(xml)) {
        if (error)
            *error = doc->parseError();
        return nullptr;
    }
    return doc;
}
