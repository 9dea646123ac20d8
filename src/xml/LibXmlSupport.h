#pragma once

// Process-wide libxml2 setup, shared by the services in this folder.
// Internal to src/document: only code here includes libxml2.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

struct _xmlNode;
struct _xmlNs;

namespace libxml {

// Initialises libxml2 once: silences its default error printing and installs
// an entity loader that refuses every external resource unless the parse
// asking for it runs on a thread with an ExternalLoadScope open.
void ensureInitialized();

// While alive, parses on this thread (and only this one) may read local
// regular files as external DTDs, entities and schema parts: those inside
// `folder` when one is given, any otherwise. Public and system identifiers
// and URIs are first looked up in the system's XML catalogs
// (XML_CATALOG_FILES when set); what is still remote after that is refused,
// as are FIFOs, devices and other special files. Scopes nest; the innermost
// decides. Other threads keep their own policy, so a transform never reads
// with a validation's permission.
class ExternalLoadScope
{
public:
    explicit ExternalLoadScope(const QString &folder = QString());
    // A scope that reads nothing but notes the first resource asked for:
    // for parses that must tell content left out from content that is empty.
    enum class Refusing { All };
    explicit ExternalLoadScope(Refusing);
    ~ExternalLoadScope();
    ExternalLoadScope(const ExternalLoadScope &) = delete;
    ExternalLoadScope &operator=(const ExternalLoadScope &) = delete;

    // The first resource refused or unreadable while this scope was the
    // innermost, with the reason ("" when none was).
    QString failure() const { return m_failure; }
    // The files read while this scope was the innermost, in order.
    const QStringList &loaded() const { return m_loaded; }

private:
    friend struct LoaderAccess;
    ExternalLoadScope *m_previous;
    QString m_folder;
    QString m_failure;
    QStringList m_loaded;
    bool m_refusing = false;
};

// A local path as the file: URI libxml2 resolves relative references
// against: absolute, UTF-8, with blanks, '%', '#' and non-ASCII escaped.
QByteArray fileUri(const QString &path);

// `text` with each file: URI in it (as libxml2 names files in its
// messages) written as the local path it stands for.
QString withLocalPaths(const QString &text);

// The most bytes a schema, a part of one or a style sheet may have: more
// is no file a person wrote, and holding it could exhaust memory.
constexpr qint64 kMaxPartBytes = qint64(64) << 20;

// Reads a regular file whole into `bytes`, never more than `limit` bytes:
// a larger file is refused with a reason that names the limit. Opened
// without blocking and checked on the open descriptor (no FIFO, device,
// folder, nor file of /proc or /sys), so a pipe under /proc never stalls the reader, even if it replaced the file after
// a look at its name. False with `reason` on failure, running out of
// memory while reading included.
bool readRegularFile(const QString &path, QByteArray *bytes, QString *reason, qint64 limit = kMaxPartBytes);

// The libxml2 structure behind an XmlNode's opaque pointer.
inline struct _xmlNode *asNode(void *p)
{
    return static_cast<struct _xmlNode *>(p);
}
inline struct _xmlNs *asNs(void *p)
{
    return static_cast<struct _xmlNs *>(p);
}

// Visits a document's elements and their attributes in document order,
// numbering them from 0, until `visit` returns false. `route` leads to the
// node from the root element: at each level the index among the parent's
// children (every kind counted), an attribute last as -1 - its index.
using NodeRoute = std::vector<int>;
void forEachInDocumentOrder(void *doc, const std::function<bool(void *node, qint64 position, const NodeRoute &route)> &visit);
// The node `route` leads to in `doc`, or null. `from` holds the nodes the
// route before it reached, and is updated: routes followed in document
// order each start where the one before left off, so that many of them
// under one long list of children cost one walk of it.
void *followRoute(void *doc, const NodeRoute &route, std::vector<std::pair<int, void *>> *from);

// libxml2's memory functions from now on, for a forked child only.
void useChildHeap(void (*release)(void *), void *(*allocate)(size_t), void *(*reallocate)(void *, size_t),
                  char *(*duplicate)(const char *));

QString fromXml(const unsigned char *text);
QString fromXml(const unsigned char *text, int length);

// xml:space on an element: 1 preserve, 0 default, -1 not given.
int xmlSpaceOf(_xmlNode *element);

// Drops the white-space-only text nodes below `parent`, except under
// xml:space="preserve" (`preserve`: already so at `parent`), as the
// window's tree shows a document. The parser's own blank removal is
// heuristic and leaves some (an element holding only blanks, blanks
// between elements in mixed content). `eachElement` sees every element
// kept, before its children.
void stripBlankText(_xmlNode *parent, bool preserve, const std::function<void(_xmlNode *)> &eachElement = {});

} // namespace libxml
