#include "XsltTransform.h"

#include "LibXmlSupport.h"
#include "XmlDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <libexslt/exslt.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/xmlmemory.h>
#include <libxml/xmlerror.h>
#include <libxslt/documents.h>
#include <libxslt/extra.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_BIG_LINES;

// Per transform, on its own thread: what went wrong so far, and what the
// style sheet was refused.
thread_local QString t_errors;
thread_local QString t_refused;
// An allocation failed: the engine goes on after some of them (a string
// function then gives -1 or nothing), so its output cannot be trusted.
thread_local bool t_outOfMemory = false;
std::atomic<quint64> g_failedAllocations{0};

// The allocators counting starts over: the C library's in a process of
// its own, a forked child's heap in the child.
xmlMallocFunc g_malloc = std::malloc;
xmlReallocFunc g_realloc = std::realloc;
xmlStrdupFunc g_strdup = ::strdup;

void *countedMalloc(size_t size)
{
    void *p = g_malloc(size);
    if (!p && size)
        ++g_failedAllocations;
    return p;
}
void *countedRealloc(void *old, size_t size)
{
    void *p = g_realloc(old, size);
    if (!p && size)
        ++g_failedAllocations;
    return p;
}
char *countedStrdup(const char *text)
{
    char *p = g_strdup(text);
    if (!p)
        ++g_failedAllocations;
    return p;
}

// A local path for a URI the style sheet names; empty for another scheme.
QString localPath(const QString &uri)
{
    const QUrl url(uri);
    if (url.isLocalFile())
        return QDir::cleanPath(url.toLocalFile());
    if (!url.scheme().isEmpty())
        return QString();
    // A path joined by libxslt may come percent-encoded.
    const QString path = QDir::cleanPath(uri);
    return QFileInfo::exists(path) ? path : QDir::cleanPath(url.path());
}

// A style sheet that reaches beyond what it may is stopped and says why,
// rather than quietly giving a preview with parts missing.
int refuse(const char *what, const xmlChar *value)
{
    if (t_refused.isEmpty())
        t_refused = QStringLiteral("%1: %2").arg(QString::fromUtf8(what), QString::fromUtf8(reinterpret_cast<const char *>(value)));
    return 0;
}
int refuseWrite(xsltSecurityPrefsPtr, xsltTransformContextPtr, const char *value)
{
    return refuse("ファイルの書き込みは許可されていません", reinterpret_cast<const xmlChar *>(value));
}
int refuseFolder(xsltSecurityPrefsPtr, xsltTransformContextPtr, const char *value)
{
    return refuse("フォルダーの作成は許可されていません", reinterpret_cast<const xmlChar *>(value));
}
int refuseNetwork(xsltSecurityPrefsPtr, xsltTransformContextPtr, const char *value)
{
    return refuse("ネットワークへのアクセスは許可されていません", reinterpret_cast<const xmlChar *>(value));
}
// FIFOs, devices and folders are never read: a FIFO would block for good.
bool readable(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

int checkRead(xsltSecurityPrefsPtr, xsltTransformContextPtr, const char *value)
{
    const QString path = localPath(QString::fromUtf8(value));
    if (path.isEmpty())
        return refuse("ネットワークへのアクセスは許可されていません", reinterpret_cast<const xmlChar *>(value));
    return readable(path) ? 1 : refuse("通常のファイルではありません", reinterpret_cast<const xmlChar *>(value));
}

void collectError(void *, const char *format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (std::strstr(buffer, "Memory allocation failed") || std::strstr(buffer, "out of memory"))
        t_outOfMemory = true;
    if (t_errors.size() < 4096)
        t_errors += QString::fromUtf8(buffer);
}

void collectStructured(void *, xmlErrorPtr error)
{
    if (error && error->code == XML_ERR_NO_MEMORY)
        t_outOfMemory = true;
    if (!error || !error->message || t_errors.size() >= 4096)
        return;
    t_errors += QString::fromUtf8(error->message).trimmed();
    if (error->line > 0)
        t_errors += QStringLiteral(" (%1行目)").arg(error->line);
    t_errors += QLatin1Char('\n');
}

// Style sheets and the documents they load are read by us from the local
// file system, never through libxml2's own I/O.
xmlDocPtr loadDocument(const xmlChar *uri, xmlDictPtr dict, int options, void *ctxt, xsltLoadType type)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(uri));
    const QString path = localPath(text);
    if (path.isEmpty()) {
        refuse("ネットワークへのアクセスは許可されていません", uri);
        return nullptr;
    }
    // Checked on the opened file: /proc, /sys, devices and FIFOs are never
    // read, and nothing blocks.
    QByteArray bytes;
    QString reason;
    if (!libxml::readRegularFile(path, &bytes, &reason)) {
        if (QFileInfo::exists(path))
            refuse(reason.toUtf8().constData(), uri);
        else
            collectError(nullptr, "%s: %s\n", text.toUtf8().constData(), reason.toUtf8().constData());
        return nullptr;
    }
    Q_UNUSED(ctxt);
    xmlParserCtxtPtr parser = xmlNewParserCtxt();
    if (!parser)
        return nullptr;
    if (dict) {
        xmlDictFree(parser->dict);
        parser->dict = dict;
        xmlDictReference(dict);
    }
    // A style sheet's own document type may read local files (entity sets
    // beside it, as DocBook's style sheets have); the documents it reads
    // with document() load nothing external.
    std::optional<libxml::ExternalLoadScope> styleSheetFiles;
    if (type != XSLT_LOAD_DOCUMENT)
        styleSheetFiles.emplace();
    xmlDocPtr doc = xmlCtxtReadMemory(parser, bytes.constData(), int(bytes.size()), reinterpret_cast<const char *>(uri),
                                      nullptr, options | kParseOptions);
    xmlFreeParserCtxt(parser);
    return doc;
}

// A transform asked to stop once its output passes a size: the result so
// far is written out now and then, each time after twice as many steps, and
// once it is long enough it is kept and the transform stopped. Its first
// bytes are final: later steps only add after them.
thread_local qint64 t_stopPast = 0;
thread_local xmlDocPtr t_result = nullptr;
thread_local xsltStylesheetPtr t_style = nullptr;
thread_local quint64 t_steps = 0;
thread_local quint64 t_nextLook = 0;
thread_local QByteArray t_cut;
thread_local bool t_cutIsHtml = false;

struct CutSink
{
    QByteArray *out;
    qint64 limit;
};

int cutWrite(void *context, const char *buffer, int length)
{
    auto *sink = static_cast<CutSink *>(context);
    sink->out->append(buffer, length);
    // Past the limit the rest is not needed: the serializer stops.
    return sink->out->size() > sink->limit ? -1 : length;
}

// Called by the engine's debugging hook before each template or sequence of
// instructions: only for a context whose debugging status asks for it.
void watchOutput(xmlNodePtr, xmlNodePtr, xsltTemplatePtr, xsltTransformContextPtr ctxt)
{
    if (!ctxt || ctxt->state != XSLT_STATE_OK || t_stopPast <= 0)
        return;
    // The result document, not a variable's fragment being built.
    if (!t_result && ctxt->output && !XSLT_IS_RES_TREE_FRAG(ctxt->output))
        t_result = ctxt->output;
    if (++t_steps < t_nextLook || !t_result)
        return;
    t_nextLook = t_steps * 2;
    QByteArray out;
    CutSink sink{&out, t_stopPast};
    xmlOutputBufferPtr buffer = xmlOutputBufferCreateIO(cutWrite, nullptr, &sink, nullptr);
    if (!buffer)
        return;
    xsltSaveResultTo(buffer, t_result, t_style);
    xmlOutputBufferClose(buffer);
    if (out.size() <= t_stopPast)
        return;
    t_cut = std::move(out);
    t_cutIsHtml = t_result->type == XML_HTML_DOCUMENT_NODE;
    ctxt->state = XSLT_STATE_STOPPED;
}
int noCall(xsltTemplatePtr, xmlNodePtr)
{
    return 0;
}
void noDrop() {}

void ensureXslt()
{
    static std::once_flag once;
    std::call_once(once, [] {
        libxml::ensureInitialized();
        exsltRegisterAll();
        xsltRegisterAllExtras();
        xsltSetLoaderFunc(loadDocument);
        xsltSetGenericErrorFunc(nullptr, collectError);
        static void *watch[3] = {reinterpret_cast<void *>(watchOutput), reinterpret_cast<void *>(noCall),
                                 reinterpret_cast<void *>(noDrop)};
        xsltSetDebuggerCallbacks(3, watch);
    });
}

QString takeErrors(const QString &fallback)
{
    QString errors = t_errors.trimmed();
    t_errors.clear();
    return errors.isEmpty() ? fallback : errors;
}

} // namespace

void countAllocationFailures()
{
    xmlFreeFunc release = nullptr;
    xmlMemGet(&release, &g_malloc, &g_realloc, &g_strdup);
    xmlMemSetup(release, countedMalloc, countedRealloc, countedStrdup);
}

void limitAddressSpace(long long memoryMb)
{
    if (memoryMb <= 0)
        return;
    // What the process maps already comes on top: a runtime that reserves
    // much at start (a sanitizer's shadow memory), or all a forked child
    // shares with its parent, leaves the same room to work in.
    unsigned long long pages = 0;
    if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%llu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    const rlim_t bytes = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + rlim_t(memoryMb) * 1024 * 1024;
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_AS, &limit);
}

namespace {
bool g_leaveToExit = false;
}

void leaveDocumentsToExit()
{
    g_leaveToExit = true;
}

namespace {

// Runs the style sheet over `source`, which stays the caller's. With
// `numbered`, its elements carry their document order already and the
// engine is kept from writing it into every element again.
TransformResult run(const QString &styleSheetPath, const std::function<xmlDocPtr()> &source, qint64 stopPast, bool numbered)
{
    ensureXslt();
    TransformResult result;
    t_errors.clear();
    t_refused.clear();
    t_outOfMemory = false;
    const quint64 failedBefore = g_failedAllocations;
    xmlSetGenericErrorFunc(nullptr, collectError); // per thread in libxml2
    xmlSetStructuredErrorFunc(nullptr, collectStructured);
    const QFileInfo info(styleSheetPath);

    xmlDocPtr styleDoc = loadDocument(reinterpret_cast<const xmlChar *>(libxml::fileUri(info.absoluteFilePath()).constData()),
                                      nullptr, 0, nullptr, XSLT_LOAD_START);
    xsltStylesheetPtr style = styleDoc ? xsltParseStylesheetDoc(styleDoc) : nullptr;
    if (!style) {
        if (styleDoc)
            xmlFreeDoc(styleDoc);
        result.error = !t_refused.isEmpty() ? t_refused : takeErrors(QStringLiteral("XSLスタイルシートとして読み込めません。"));
        return result;
    }
    // The preview file is written in UTF-8, so the output says UTF-8.
    xmlFree(const_cast<xmlChar *>(style->encoding));
    style->encoding = xmlStrdup(reinterpret_cast<const xmlChar *>("UTF-8"));

    const xmlDocPtr document = source();
    xsltSecurityPrefsPtr prefs = xsltNewSecurityPrefs();
    xsltSetSecurityPrefs(prefs, XSLT_SECPREF_WRITE_FILE, refuseWrite);
    xsltSetSecurityPrefs(prefs, XSLT_SECPREF_CREATE_DIRECTORY, refuseFolder);
    xsltSetSecurityPrefs(prefs, XSLT_SECPREF_READ_NETWORK, refuseNetwork);
    xsltSetSecurityPrefs(prefs, XSLT_SECPREF_WRITE_NETWORK, refuseNetwork);
    xsltSetSecurityPrefs(prefs, XSLT_SECPREF_READ_FILE, checkRead);
    // The engine numbers the elements only while no debugging is asked for.
    const int debugging = xslDebugStatus;
    if (numbered)
        xslDebugStatus = XSLT_DEBUG_RUN;
    xsltTransformContextPtr context = document ? xsltNewTransformContext(style, document) : nullptr;
    if (numbered)
        xslDebugStatus = debugging;
    xmlDocPtr output = nullptr;
    t_cut.clear();
    if (context) {
        xsltSetCtxtSecurityPrefs(prefs, context);
        t_stopPast = stopPast;
        t_result = nullptr;
        t_style = style;
        t_steps = 0;
        t_nextLook = 1024;
        context->debugStatus = stopPast > 0 ? XSLT_DEBUG_RUN : XSLT_DEBUG_NONE;
        output = xsltApplyStylesheetUser(style, document, nullptr, nullptr, nullptr, context);
        t_stopPast = 0;
        t_result = nullptr;
        if (context->state != XSLT_STATE_OK && output) {
            xmlFreeDoc(output);
            output = nullptr;
        }
    }
    if (!t_cut.isEmpty() && t_refused.isEmpty()) {
        result.ok = true;
        result.truncated = true;
        result.output = std::exchange(t_cut, {});
        result.method = style->method ? QString::fromUtf8(reinterpret_cast<const char *>(style->method))
            : t_cutIsHtml ? QStringLiteral("html") : QString();
    }
    if (output && !t_refused.isEmpty()) {
        xmlFreeDoc(output);
        output = nullptr;
    }
    if (output) {
        xmlChar *text = nullptr;
        int length = 0;
        if (xsltSaveResultToString(&text, &length, output, style) == 0) {
            result.output = QByteArray(reinterpret_cast<const char *>(text), length);
            result.ok = true;
            // An html root without a declared method is written as HTML too.
            result.method = style->method ? QString::fromUtf8(reinterpret_cast<const char *>(style->method))
                : output->type == XML_HTML_DOCUMENT_NODE ? QStringLiteral("html") : QString();
        }
        xmlFree(text);
        xmlFreeDoc(output);
    }
    if (!result.ok)
        result.error = !t_refused.isEmpty()
            ? t_refused
            : takeErrors(document ? QStringLiteral("変換に失敗しました。") : QStringLiteral("文書を読み込めません。"));
    if (t_outOfMemory || g_failedAllocations != failedBefore) {
        result.ok = false;
        result.output.clear();
        result.method.clear();
        result.error = QStringLiteral("Memory allocation failed");
    }
    result.outOfMemory = !result.ok && result.error.contains(QLatin1String("Memory allocation failed"));
    t_errors.clear();
    if (context)
        xsltFreeTransformContext(context);
    xsltFreeSecurityPrefs(prefs);
    xsltFreeStylesheet(style);
    return result;
}

} // namespace

TransformResult transformWithStyleSheet(const QByteArray &documentMarkup, const QString &styleSheetPath, qint64 stopPast)
{
    xmlDocPtr source = nullptr;
    TransformResult result = run(styleSheetPath, [&] {
        // Internal entities are substituted as any XSLT processor does; the
        // process-wide entity loader refuses every external one.
        source = xmlReadMemory(documentMarkup.constData(), int(documentMarkup.size()), nullptr, nullptr,
                               kParseOptions | XML_PARSE_NOENT | XML_PARSE_COMPACT);
        // As the window's tree has it, so both ways read the same document.
        if (source)
            libxml::stripBlankText(reinterpret_cast<xmlNodePtr>(source), false);
        return source;
    }, stopPast, false);
    // Freeing a large tree takes a good part of the time it took to build.
    if (source && !g_leaveToExit)
        xmlFreeDoc(source);
    return result;
}

bool canTransformTree(const XmlDocument &document)
{
    const auto doc = static_cast<xmlDocPtr>(document.rawDocument());
    const auto declaresEntities = [](xmlDtdPtr dtd) {
        return dtd && dtd->entities && xmlHashSize(static_cast<xmlHashTablePtr>(dtd->entities)) > 0;
    };
    return doc && !declaresEntities(doc->intSubset) && !declaresEntities(doc->extSubset);
}

TransformResult transformTree(XmlDocument &document, const QString &styleSheetPath, qint64 stopPast)
{
    const auto doc = static_cast<xmlDocPtr>(document.rawDocument());
    for (xmlNodePtr n = doc->children; n && n->type != XML_ELEMENT_NODE; n = n->next) {
        if (n->type == XML_PI_NODE && xmlStrEqual(n->name, BAD_CAST "xml")) {
            xmlUnlinkNode(n);
            break;
        }
    }
    return run(styleSheetPath, [doc] { return doc; }, stopPast, true);
}
