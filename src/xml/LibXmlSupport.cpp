#include "LibXmlSupport.h"

#include "Encodings.h"
#include "base/StringTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <libxml/catalog.h>
#include <libxml/xmlmemory.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>

#include <cctype>
#include <fcntl.h>
#include <linux/magic.h>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace libxml {

// The loader records refusals in the scope that is open on its thread.
struct LoaderAccess
{
    static thread_local ExternalLoadScope *current;
    static void fail(const QString &what, const QString &reason)
    {
        if (current && current->m_failure.isEmpty())
            current->m_failure = QStringLiteral("%1: %2").arg(reason, what);
    }
    static const QString &folder() { return current->m_folder; }
    static bool refusing() { return current->m_refusing; }
    static void loaded(const QString &path) { current->m_loaded.append(path); }
};
thread_local ExternalLoadScope *LoaderAccess::current = nullptr;

namespace {

void silentGenericError(void *, const char *, ...) {}
void silentStructuredError(void *, xmlErrorPtr) {}

// True for a plain path or a file: URL. Any other scheme (http, HTTP, ftp,
// and whatever else libxml2's I/O layer may learn) counts as the network.
bool isLocal(const QByteArray &url)
{
    if (url.isEmpty())
        return false;
    const char *p = url.constData();
    if (std::isalpha(static_cast<unsigned char>(*p))) {
        while (std::isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-' || *p == '.')
            ++p;
        if (*p == ':')
            return p - url.constData() == 4 && strncasecmp(url.constData(), "file", 4) == 0;
    }
    return true;
}

QString localPath(const QByteArray &url)
{
    if (url.size() > 5 && strncasecmp(url.constData(), "file:", 5) == 0)
        return QUrl::fromEncoded(url).toLocalFile();
    // A plain path from a base that was one; escapes only when it does not
    // exist as written.
    const QString plain = QFile::decodeName(url);
    if (url.contains('%') && !QFileInfo::exists(plain))
        return QFile::decodeName(QByteArray::fromPercentEncoding(url));
    return plain;
}

// The catalogs map identifiers and URIs to installed copies; the name as
// given when they know none.
QByteArray throughCatalog(const char *url, const char *id)
{
    const auto *system = reinterpret_cast<const xmlChar *>(url);
    xmlChar *mapped = xmlCatalogResolve(reinterpret_cast<const xmlChar *>(id), system);
    if (!mapped && system)
        mapped = xmlCatalogResolveURI(system);
    if (!mapped)
        return QByteArray(url ? url : "");
    QByteArray result(reinterpret_cast<const char *>(mapped));
    xmlFree(mapped);
    return result;
}

xmlParserInputPtr loadGuarded(const char *url, const char *id, xmlParserCtxtPtr ctxt)
{
    if (!LoaderAccess::current)
        return nullptr;
    const QByteArray resolved = throughCatalog(url, id);
    const QString shown = QString::fromUtf8(resolved.isEmpty() ? QByteArray(id ? id : "") : resolved);
    if (LoaderAccess::refusing()) {
        LoaderAccess::fail(shown, GetResString(2303));
        return nullptr;
    }
    if (!isLocal(resolved)) {
        LoaderAccess::fail(shown, QStringLiteral("ネットワークからは読み込みません"));
        return nullptr;
    }
    const QString path = QDir::cleanPath(localPath(resolved));
    const QString &folder = LoaderAccess::folder();
    if (!folder.isEmpty() && !QFileInfo(path).canonicalFilePath().startsWith(folder + QLatin1Char('/'))) {
        LoaderAccess::fail(path, QStringLiteral("フォルダーの外は読めません"));
        return nullptr;
    }
    QByteArray bytes;
    QString reason;
    if (!readRegularFile(path, &bytes, &reason)) {
        LoaderAccess::fail(path, reason);
        return nullptr;
    }
    LoaderAccess::loaded(path);
    xmlParserInputBufferPtr buffer = xmlParserInputBufferCreateMem(bytes.constData(), int(bytes.size()), XML_CHAR_ENCODING_NONE);
    xmlParserInputPtr input = buffer ? xmlNewIOInputStream(ctxt, buffer, XML_CHAR_ENCODING_NONE) : nullptr;
    if (!input) {
        if (buffer)
            xmlFreeParserInputBuffer(buffer);
        return nullptr;
    }
    // The name relative references resolve against: a URI, so that '#' or
    // '%' in a folder's name stays part of the path.
    input->filename = reinterpret_cast<const char *>(xmlStrdup(reinterpret_cast<const xmlChar *>(fileUri(path).constData())));
    return input;
}

// Called from libxml2's C code, which no exception may pass through; what
// could throw is running out of memory, itself the reason then.
xmlParserInputPtr guardedLoader(const char *url, const char *id, xmlParserCtxtPtr ctxt)
{
    try {
        return loadGuarded(url, id, ctxt);
    } catch (...) {
    }
    try {
        LoaderAccess::fail(QString::fromUtf8(url ? url : ""), QString::fromLocal8Bit(strerror(ENOMEM)));
    } catch (...) {
    }
    return nullptr;
}

} // namespace

// The kernel's own file systems show their files as regular ones, of
// size 0, and some of them block or hand out secrets.
static bool onKernelFileSystem(int fd)
{
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return true;
    switch (fs.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

bool readRegularFile(const QString &path, QByteArray *bytes, QString *reason, qint64 limit)
{
    bytes->clear();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    const auto tooLarge = [&] {
        ::close(fd);
        bytes->clear();
        *reason = GetResString(2301).arg(limit >> 20);
        return false;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || onKernelFileSystem(fd)) {
        ::close(fd);
        *reason = QStringLiteral("通常のファイルではありません");
        return false;
    }
    // The size a file claims may be any (a sparse file has terabytes of
    // nothing): it only decides refusal, and the bytes grow as they come.
    if (st.st_size > limit)
        return tooLarge();
    try {
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                *reason = QString::fromLocal8Bit(strerror(errno));
                ::close(fd);
                bytes->clear();
                return false;
            }
            if (n == 0)
                break;
            if (bytes->size() + n > limit) // grown since it was measured
                return tooLarge();
            bytes->append(chunk, n);
        }
    } catch (const std::bad_alloc &) {
        ::close(fd);
        bytes->clear();
        *reason = QString::fromLocal8Bit(strerror(ENOMEM));
        return false;
    }
    ::close(fd);
    return true;
}

QString withLocalPaths(const QString &text)
{
    static const QRegularExpression uri(QStringLiteral("file:/[^\\s\"'<>]*"));
    QString out = text;
    QRegularExpressionMatch m;
    for (qsizetype from = 0; (m = uri.match(out, from)).hasMatch();) {
        const QString path = QUrl::fromEncoded(m.captured().toUtf8()).toLocalFile();
        const QString shown = path.isEmpty() ? m.captured() : path;
        out.replace(m.capturedStart(), m.capturedLength(), shown);
        from = m.capturedStart() + shown.size();
    }
    return out;
}

void ensureInitialized()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetGenericErrorFunc(nullptr, silentGenericError);
        xmlSetStructuredErrorFunc(nullptr, silentStructuredError);
        // Threads started later (validations) are silent as well.
        xmlThrDefSetGenericErrorFunc(nullptr, silentGenericError);
        xmlThrDefSetStructuredErrorFunc(nullptr, silentStructuredError);
        xmlSetExternalEntityLoader(guardedLoader);
        addEncodingAliases();
    });
}

ExternalLoadScope::ExternalLoadScope(const QString &folder) : m_previous(LoaderAccess::current)
{
    if (!folder.isEmpty())
        m_folder = QFileInfo(folder).canonicalFilePath();
    if (!folder.isEmpty() && m_folder.isEmpty())
        m_folder = QStringLiteral("/nonexistent/"); // a folder that is gone allows nothing
    LoaderAccess::current = this;
}

ExternalLoadScope::ExternalLoadScope(Refusing) : ExternalLoadScope()
{
    m_refusing = true;
}

ExternalLoadScope::~ExternalLoadScope()
{
    LoaderAccess::current = m_previous;
}

QByteArray fileUri(const QString &path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
}

QString fromXml(const unsigned char *text)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
}

QString fromXml(const unsigned char *text, int length)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text), length) : QString();
}

void useChildHeap(void (*release)(void *), void *(*allocate)(size_t), void *(*reallocate)(void *, size_t),
                  char *(*duplicate)(const char *))
{
    xmlMemSetup(release, allocate, reallocate, duplicate);
}

void forEachInDocumentOrder(void *document, const std::function<bool(void *, qint64, const NodeRoute &)> &visit)
{
    qint64 n = 0;
    NodeRoute route;
    xmlNodePtr root = xmlDocGetRootElement(static_cast<xmlDocPtr>(document));
    for (xmlNodePtr e = root; e;) {
        if (e->type == XML_ELEMENT_NODE) {
            if (!visit(e, n++, route))
                return;
            int index = 0;
            for (xmlAttrPtr a = e->properties; a; a = a->next, ++index) {
                route.push_back(-1 - index);
                const bool more = visit(a, n++, route);
                route.pop_back();
                if (!more)
                    return;
            }
            if (e->children) {
                e = e->children;
                route.push_back(0);
                continue;
            }
        }
        while (e != root && !e->next) {
            e = e->parent;
            route.pop_back();
        }
        if (e == root)
            return;
        e = e->next;
        ++route.back();
    }
}

void *followRoute(void *document, const NodeRoute &route, std::vector<std::pair<int, void *>> *from)
{
    xmlNodePtr node = xmlDocGetRootElement(static_cast<xmlDocPtr>(document));
    bool same = true; // `from` holds this route's nodes down to here
    for (std::size_t level = 0; node && level < route.size(); ++level) {
        const int want = route[level];
        if (want < 0) {
            xmlAttrPtr a = node->properties;
            for (int i = -1 - want; a && i > 0; --i)
                a = a->next;
            return a;
        }
        const bool known = same && level < from->size();
        int at = 0;
        xmlNodePtr child = node->children;
        if (known && (*from)[level].first <= want) {
            at = (*from)[level].first;
            child = static_cast<xmlNodePtr>((*from)[level].second);
        }
        for (; child && at < want; ++at)
            child = child->next;
        same = known && (*from)[level].first == want;
        if (!same) {
            // Deeper levels were under another node.
            from->resize(level);
            if (child)
                from->push_back({want, child});
        }
        node = child;
    }
    return node;
}

int xmlSpaceOf(xmlNodePtr element)
{
    for (xmlAttrPtr a = element->properties; a; a = a->next) {
        if (a->ns && a->ns->prefix && xmlStrEqual(a->ns->prefix, BAD_CAST "xml") && xmlStrEqual(a->name, BAD_CAST "space")) {
            xmlChar *v = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
            const int result = xmlStrEqual(v, BAD_CAST "preserve") ? 1 : xmlStrEqual(v, BAD_CAST "default") ? 0 : -1;
            xmlFree(v);
            return result;
        }
    }
    return -1;
}

void stripBlankText(xmlNodePtr parent, bool preserve, const std::function<void(xmlNodePtr)> &eachElement)
{
    const auto blank = [](const xmlChar *s) {
        for (; s && *s; ++s)
            if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r')
                return false;
        return true;
    };
    xmlNodePtr child = parent->children;
    while (child) {
        xmlNodePtr next = child->next;
        if (child->type == XML_TEXT_NODE && !preserve && blank(child->content)) {
            xmlUnlinkNode(child);
            xmlFreeNode(child);
        } else if (child->type == XML_ELEMENT_NODE) {
            if (eachElement)
                eachElement(child);
            if (child->children) {
                const int space = xmlSpaceOf(child);
                stripBlankText(child, space == -1 ? preserve : space == 1, eachElement);
            }
        }
        child = next;
    }
}

} // namespace libxml
