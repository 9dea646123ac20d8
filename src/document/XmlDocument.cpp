#include "XmlDocument.h"

#include "LibXmlSupport.h"
#include "XmlDocumentObserver.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <optional>
#include <cstring>
#include <limits>
#include <unordered_map>

using libxml::asNode;
using libxml::asNs;
using libxml::fromXml;

namespace {

QByteArray utf8(const QString &s)
{
    return s.toUtf8();
}

const xmlChar *xc(const QByteArray &bytes)
{
    return reinterpret_cast<const xmlChar *>(bytes.constData());
}

bool isBlank(const xmlChar *s)
{
    if (!s)
        return true;
    for (; *s; ++s)
        if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r')
            return false;
    return true;
}

// xml:space on an element: 1 preserve, 0 default, -1 not given.
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

// Drop white-space-only text nodes, except under xml:space="preserve".
// The parser's own blank removal is heuristic and leaves some (an element
// holding only blanks, blanks between elements in mixed content).
void stripBlankText(xmlNodePtr parent, bool preserve)
{
    xmlNodePtr child = parent->children;
    while (child) {
        xmlNodePtr next = child->next;
        if (child->type == XML_TEXT_NODE && !preserve && isBlank(child->content)) {
            xmlUnlinkNode(child);
            xmlFreeNode(child);
        } else if (child->type == XML_ELEMENT_NODE) {
            decodeNamespaceUris(child);
            if (child->children) {
                const int space = xmlSpaceOf(child);
                stripBlankText(child, space == -1 ? preserve : space == 1);
            }
        }
        child = next;
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

// Visits an element's attributes and the nodes of their values.
template<class Visit>
bool visitAttributes(xmlNodePtr element, Visit &visit)
{
    for (xmlAttrPtr a = element->properties; a; a = a->next) {
        if (!visit(reinterpret_cast<xmlNodePtr>(a)))
            return false;
        for (xmlNodePtr v = a->children; v; v = v->next)
            if (!visit(v))
                return false;
    }
    return true;
}

// Visits every node of a node list and of its subtrees, attributes and
// their values included, without recursion (documents can be deep). Entity
// references are visited but not entered. `visit` returns false to stop.
template<class Visit>
void forEachInList(xmlNodePtr first, Visit visit)
{
    std::vector<xmlNodePtr> resume;
    xmlNodePtr n = first;
    while (n) {
        if (!visit(n))
            return;
        xmlNodePtr next = n->next;
        if (n->type == XML_ELEMENT_NODE) {
            if (!visitAttributes(n, visit))
                return;
            if (n->children) {
                resume.push_back(next);
                next = n->children;
            }
        }
        n = next;
        while (!n && !resume.empty()) {
            n = resume.back();
            resume.pop_back();
        }
    }
}

// The same for one node and its subtree, not its following siblings.
template<class Visit>
void forEachInSubtree(xmlNodePtr top, Visit visit)
{
    if (!visit(top) || top->type != XML_ELEMENT_NODE || !visitAttributes(top, visit))
        return;
    forEachInList(top->children, visit);
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

// The errors of the parse running on this thread. The first fatal error is
// the reason a load fails; a namespace slip reported before it (an error, but
// not fatal) would only hide it.
struct ParseErrors
{
    XmlParseError firstFatal;
    XmlParseError firstError;
};

thread_local ParseErrors *t_parseErrors = nullptr;

void recordParseError(void *, xmlErrorPtr error)
{
    if (!t_parseErrors || !error || error->level < XML_ERR_ERROR)
        return;
    XmlParseError &slot = error->level == XML_ERR_FATAL ? t_parseErrors->firstFatal : t_parseErrors->firstError;
    if (slot.errorCode != 0)
        return;
    slot.errorCode = error->code ? error->code : -1;
    slot.reason = QString::fromUtf8(error->message ? error->message : "").trimmed();
    slot.line = error->line;
    slot.column = error->int2;
}

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_BIG_LINES;

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

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

bool checkChars(const QString &text, QString *error)
{
    for (char32_t c : text.toUcs4()) {
        if (!isXmlChar(c)) {
            if (error)
                *error = QStringLiteral("XMLで使用できない文字 (U+%1) が含まれています。")
                             .arg(QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0')));
            return false;
        }
    }
    return true;
}

// Element and attribute names: the parser is namespace-aware, so a name
// must be a qualified name (at most one colon, not at either end), or the
// saved file would not read back as the same name.
bool checkName(const QString &name, QString *error)
{
    const QByteArray n = utf8(name);
    if (name.isEmpty() || xmlValidateQName(xc(n), 0) != 0) {
        if (error)
            *error = QStringLiteral("「%1」はXMLの名前として正しくありません。").arg(name);
        return false;
    }
    return true;
}

bool isDeclarationTarget(const xmlChar *name)
{
    return xmlStrEqual(name, BAD_CAST "xml");
}

// A PI target is a name without colon; "xml" in any case is reserved, and
// only the declaration itself (exactly "xml") may carry it.
bool checkTarget(const QString &target, bool allowDeclaration, QString *error)
{
    const QByteArray t = utf8(target);
    const bool reserved = target.compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0
        && !(allowDeclaration && target == QLatin1String("xml"));
    if (target.isEmpty() || xmlValidateNCName(xc(t), 0) != 0 || reserved) {
        if (error)
            *error = QStringLiteral("「%1」は処理命令のターゲットとして使用できません。").arg(target);
        return false;
    }
    return true;
}

// Content that markup cannot carry would make the saved file unreadable.
bool checkContent(NodeKind kind, const QString &text, bool declaration, QString *error)
{
    if (!checkChars(text, error))
        return false;
    switch (kind) {
    case NodeKind::Comment:
        if (text.contains(QLatin1String("--")) || text.endsWith(QLatin1Char('-'))) {
            if (error)
                *error = QStringLiteral("コメントに \"--\" を含めたり、\"-\" で終えたりすることはできません。");
            return false;
        }
        break;
    case NodeKind::CData:
        if (text.contains(QLatin1String("]]>"))) {
            if (error)
                *error = QStringLiteral("CDATAセクションに \"]]>\" を含めることはできません。");
            return false;
        }
        break;
    case NodeKind::ProcessingInstruction: {
        if (text.contains(QLatin1String("?>"))) {
            if (error)
                *error = QStringLiteral("処理命令に \"?>\" を含めることはできません。");
            return false;
        }
        static const QRegularExpression declarationSyntax(QStringLiteral(
            "^\\s*version\\s*=\\s*([\"'])1\\.[0-9]+\\1(\\s+encoding\\s*=\\s*([\"'])[A-Za-z][A-Za-z0-9._-]*\\3)?"
            "(\\s+standalone\\s*=\\s*([\"'])(yes|no)\\5)?\\s*$"));
        if (declaration && !declarationSyntax.match(text).hasMatch()) {
            if (error)
                *error = QStringLiteral("XML宣言の内容が正しくありません: %1").arg(text);
            return false;
        }
        break;
    }
    default:
        break;
    }
    return true;
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

struct SaveSink
{
    QByteArray *out;
    qsizetype limit; // 0: none
    bool stopped = false;
};

int saveWrite(void *context, const char *buffer, int len)
{
    auto *sink = static_cast<SaveSink *>(context);
    if (sink->limit > 0 && sink->out->size() >= sink->limit) {
        // An error makes libxml2 write nothing more.
        sink->stopped = true;
        return -1;
    }
    sink->out->append(buffer, len);
    return len;
}

int saveClose(void *)
{
    return 0;
}

// Elements under xml:space="preserve" whose content is only elements would
// be indented by the formatter, adding white space that then survives the
// next load. A transient empty text child makes the formatter leave them
// as they are; it writes nothing itself.
class PreserveGuard
{
public:
    explicit PreserveGuard(xmlNodePtr top)
    {
        if (top)
            visit(top, top->type == XML_ELEMENT_NODE ? inheritedPreserve(top->parent) : false);
    }
    ~PreserveGuard()
    {
        for (xmlNodePtr t : m_added) {
            xmlUnlinkNode(t);
            xmlFreeNode(t);
        }
    }
    PreserveGuard(const PreserveGuard &) = delete;
    PreserveGuard &operator=(const PreserveGuard &) = delete;

private:
    static bool inheritedPreserve(xmlNodePtr n)
    {
        for (; n && n->type == XML_ELEMENT_NODE; n = n->parent) {
            const int s = xmlSpaceOf(n);
            if (s != -1)
                return s == 1;
        }
        return false;
    }
    void visit(xmlNodePtr n, bool preserve)
    {
        if (n->type == XML_ELEMENT_NODE) {
            const int s = xmlSpaceOf(n);
            if (s != -1)
                preserve = s == 1;
            if (preserve && n->children) {
                bool textual = false;
                for (xmlNodePtr c = n->children; c && !textual; c = c->next)
                    textual = c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE
                        || c->type == XML_ENTITY_REF_NODE;
                if (!textual) {
                    xmlNodePtr t = xmlNewDocText(n->doc, BAD_CAST "");
                    t->parent = n;
                    t->next = n->children;
                    n->children->prev = t;
                    n->children = t;
                    m_added.push_back(t);
                }
            }
        }
        if (n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE)
            for (xmlNodePtr c = n->children; c; c = c->next)
                visit(c, preserve);
    }
    std::vector<xmlNodePtr> m_added;
};

// libxml2 writes namespace URIs without escaping them, so a URI with '&',
// '<' or '"' would give markup that does not parse, and line breaks would
// read back as blanks. The URIs of the subtree are swapped for escaped
// copies while it is written.
// For a preview of the first part of a large subtree: everything after the
// node at which the output certainly passes `limit` bytes is unhooked for
// the duration, so the serialiser does not walk the rest. The output up to
// the limit is the same as without the cut. Levels holding text after the
// cut are left whole, as cutting there would change how they are indented.
class TreeCut
{
public:
    TreeCut(xmlNodePtr top, qsizetype limit)
    {
        // Pre-order walk; every node's share is a lower bound of its output.
        const auto following = [top](xmlNodePtr n) -> xmlNodePtr {
            if (n->type == XML_ELEMENT_NODE && n->children)
                return n->children;
            for (; n && n != top; n = n->parent) {
                if (n->next)
                    return n->next;
                if (n->parent == top)
                    return nullptr;
            }
            return nullptr;
        };
        qsizetype estimate = 0;
        xmlNodePtr n = top->type == XML_DOCUMENT_NODE ? top->children : top;
        for (; n; n = following(n)) {
            estimate += share(n);
            if (estimate >= limit)
                break;
        }
        for (xmlNodePtr x = n; x && x != top && x->parent; x = x->parent) {
            xmlNodePtr p = x->parent;
            if (!x->next || tailIsTextual(x))
                continue;
            m_cuts.push_back({p, x, x->next, p->last});
            x->next = nullptr;
            p->last = x;
        }
    }
    ~TreeCut()
    {
        for (auto it = m_cuts.rbegin(); it != m_cuts.rend(); ++it) {
            it->kept->next = it->next;
            it->parent->last = it->last;
        }
    }
    TreeCut(const TreeCut &) = delete;
    TreeCut &operator=(const TreeCut &) = delete;

private:
    static bool textual(xmlNodePtr n)
    {
        return n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE || n->type == XML_ENTITY_REF_NODE;
    }
    static bool tailIsTextual(xmlNodePtr x)
    {
        for (xmlNodePtr t = x->next; t; t = t->next)
            if (textual(t))
                return true;
        return false;
    }
    static qsizetype share(xmlNodePtr n)
    {
        qsizetype bytes = n->name && n->type != XML_TEXT_NODE ? xmlStrlen(n->name) : 0;
        if (n->type == XML_ELEMENT_NODE) {
            bytes = 2 * bytes + 3;
            for (xmlAttrPtr a = n->properties; a; a = a->next)
                bytes += xmlStrlen(a->name) + 4 + (a->children ? xmlStrlen(a->children->content) : 0);
        } else if (n->content && n->type != XML_ENTITY_REF_NODE) {
            bytes += xmlStrlen(n->content);
        }
        return bytes;
    }
    struct Cut
    {
        xmlNodePtr parent;
        xmlNodePtr kept;
        xmlNodePtr next;
        xmlNodePtr last;
    };
    std::vector<Cut> m_cuts;
};

class NamespaceUriGuard
{
public:
    explicit NamespaceUriGuard(xmlNodePtr top)
    {
        const auto visit = [this](xmlNodePtr n) {
            if (n->type == XML_ELEMENT_NODE)
                for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
                    escape(ns);
            return true;
        };
        if (top->type == XML_DOCUMENT_NODE)
            forEachInList(top->children, visit);
        else
            forEachInSubtree(top, visit);
    }
    ~NamespaceUriGuard()
    {
        for (const auto &[ns, original] : m_swapped) {
            xmlFree(const_cast<xmlChar *>(ns->href));
            ns->href = original;
        }
    }
    NamespaceUriGuard(const NamespaceUriGuard &) = delete;
    NamespaceUriGuard &operator=(const NamespaceUriGuard &) = delete;

private:
    void escape(xmlNsPtr ns)
    {
        const char *href = reinterpret_cast<const char *>(ns->href);
        if (!href || !href[std::strcspn(href, "&<>\"\n\r\t")])
            return;
        QByteArray uri(href);
        uri.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace("\"", "&quot;")
            .replace("\n", "&#10;").replace("\r", "&#13;").replace("\t", "&#9;");
        m_swapped.emplace_back(ns, ns->href);
        ns->href = xmlStrdup(xc(uri));
    }
    std::vector<std::pair<xmlNsPtr, const xmlChar *>> m_swapped;
};

// libxml2 reads its indentation string from a global when a save context
// is made; set it for the duration of one serialisation.
class IndentScope
{
public:
    explicit IndentScope(const QString &unit) : m_unit(utf8(unit)), m_previous(xmlTreeIndentString)
    {
        xmlTreeIndentString = m_unit.constData();
    }
    ~IndentScope() { xmlTreeIndentString = m_previous; }

private:
    QByteArray m_unit;
    const char *m_previous;
};

xmlNsPtr &namespaceOf(xmlNodePtr n)
{
    return n->type == XML_ATTRIBUTE_NODE ? reinterpret_cast<xmlAttrPtr>(n)->ns : n->ns;
}

// Puts an element's or attribute's name where it reads back the same in
// the place it now stands (`element`: the node itself, or the attribute's
// element). A prefixed name made before its prefix was in scope is bound
// once it is; a namespace no longer in scope under its prefix is declared
// again on the element; an unprefixed element without a namespace takes the
// default namespace in scope, exactly as its markup would on reload.
void fixNamespace(xmlDocPtr doc, xmlNodePtr n, xmlNodePtr element)
{
    if (!element)
        return;
    xmlNsPtr &ns = namespaceOf(n);
    if (!ns) {
        if (const xmlChar *colon = xmlStrchr(n->name, ':')) {
            xmlChar *prefix = xmlStrndup(n->name, int(colon - n->name));
            if (xmlNsPtr found = xmlSearchNs(doc, element, prefix)) {
                xmlChar *local = xmlStrdup(colon + 1);
                xmlNodeSetName(n, local);
                xmlFree(local);
                ns = found;
            }
            xmlFree(prefix);
        } else if (n->type == XML_ELEMENT_NODE) {
            xmlNsPtr found = xmlSearchNs(doc, element, nullptr);
            if (found && found->href && *found->href)
                ns = found;
        }
        return;
    }
    if (ns->prefix && xmlStrEqual(ns->prefix, BAD_CAST "xml"))
        return;
    xmlNsPtr found = xmlSearchNs(doc, element, ns->prefix);
    if (found == ns)
        return;
    if (found && xmlStrEqual(found->href, ns->href)) {
        ns = found;
        return;
    }
    // An ordinary attribute spelled as this declaration would be written
    // twice; it stands for the declaration already.
    const QByteArray spelled = ns->prefix ? "xmlns:" + QByteArray(reinterpret_cast<const char *>(ns->prefix)) : "xmlns";
    for (xmlAttrPtr a = element->properties; a; a = a->next)
        if (!a->ns && xmlStrEqual(a->name, xc(spelled)))
            return;
    if (xmlNsPtr declared = xmlNewNs(element, ns->href, ns->prefix))
        ns = declared;
}

void fixNamespaces(xmlDocPtr doc, xmlNodePtr top)
{
    if (top->type != XML_ELEMENT_NODE)
        return;
    forEachInSubtree(top, [doc](xmlNodePtr n) {
        if (n->type == XML_ELEMENT_NODE)
            fixNamespace(doc, n, n);
        else if (n->type == XML_ATTRIBUTE_NODE)
            fixNamespace(doc, n, n->parent);
        return true;
    });
}

// True when a name in the subtree of `owner` is in namespace `ns`.
bool namespaceUsed(xmlNodePtr owner, xmlNsPtr ns)
{
    bool used = false;
    forEachInSubtree(owner, [&](xmlNodePtr n) {
        used = (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && namespaceOf(n) == ns;
        return !used;
    });
    return used;
}

void repointNamespace(xmlNodePtr owner, xmlNsPtr from, xmlNsPtr to)
{
    forEachInSubtree(owner, [&](xmlNodePtr n) {
        if ((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && namespaceOf(n) == from)
            namespaceOf(n) = to;
        return true;
    });
}

void unlinkNamespace(xmlNodePtr owner, xmlNsPtr ns)
{
    xmlNsPtr *link = &owner->nsDef;
    while (*link && *link != ns)
        link = &(*link)->next;
    if (*link)
        *link = ns->next;
    ns->next = nullptr;
}

// An attribute's value as literal text: no entity references are parsed
// out of it (xmlNewDocProp would, and cut the value at a lone '&').
void setLiteralValue(xmlAttrPtr a, const QByteArray &value)
{
    xmlFreeNodeList(a->children);
    a->children = a->last = nullptr;
    xmlNodePtr text = xmlNewDocText(a->doc, xc(value));
    text->parent = reinterpret_cast<xmlNodePtr>(a);
    a->children = a->last = text;
}

// Puts `list` (unlinked siblings) in place of `node`, which is freed.
void replaceByList(xmlNodePtr node, xmlNodePtr list)
{
    xmlNodePtr parent = node->parent;
    while (list) {
        xmlNodePtr next = list->next;
        list->parent = parent;
        list->prev = node->prev;
        list->next = node;
        if (node->prev)
            node->prev->next = list;
        else if (parent)
            parent->children = list;
        node->prev = list;
        list = next;
    }
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

} // namespace

struct XmlDocument::ParseResult
{
    xmlDocPtr doc = nullptr;
    XmlParseError error;
    bool byteOrderMark = false;
    QString indent;
};

static XmlDocument::ParseResult parseBytesInternal(const QByteArray &bytes, const QString &url, bool forceUtf8);

XmlDocument::XmlDocument()
{
    libxml::ensureInitialized();
    m_doc = xmlNewDoc(BAD_CAST "1.0");
}

XmlDocument::~XmlDocument()
{
    freeContent();
}

void XmlDocument::freeContent()
{
    // Detached subtrees first: their names may live in the document's
    // dictionary, which xmlFreeDoc releases.
    std::vector<xmlNodePtr> roots;
    for (void *p : m_detached) {
        xmlNodePtr n = asNode(p);
        if (!n->parent)
            roots.push_back(n);
    }
    for (xmlNodePtr n : roots)
        xmlFreeNode(n);
    m_detached.clear();
    if (m_doc)
        xmlFreeDoc(m_doc);
    m_doc = nullptr;
    for (void *ns : m_detachedNamespaces)
        xmlFreeNs(asNs(ns));
    m_detachedNamespaces.clear();
}

static XmlDocument::ParseResult parseBytesInternal(const QByteArray &bytes, const QString &url, bool forceUtf8)
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
    ParseErrors errors;
    t_parseErrors = &errors;
    const QByteArray urlBytes = url.isEmpty() ? QByteArray() : QFile::encodeName(url);
    // A string is already decoded: the encoding its declaration names is the
    // file's, not the string's.
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, bytes.constData(), int(bytes.size()),
                                      urlBytes.isEmpty() ? nullptr : urlBytes.constData(),
                                      forceUtf8 ? "UTF-8" : nullptr,
                                      kParseOptions | (forceUtf8 ? XML_PARSE_IGNORE_ENC : 0));
    t_parseErrors = nullptr;
    if (!doc || !ctxt->wellFormed) {
        if (doc)
            xmlFreeDoc(doc);
        result.error = errors.firstFatal.errorCode != 0 ? errors.firstFatal : errors.firstError;
        if (result.error.errorCode == 0) {
            const xmlError *last = xmlCtxtGetLastError(ctxt);
            result.error.errorCode = last && last->code ? last->code : -1;
            result.error.reason = last && last->message ? QString::fromUtf8(last->message).trimmed()
                                                        : QStringLiteral("document is not well-formed");
            result.error.line = last ? last->line : 0;
            result.error.column = last ? last->int2 : 0;
        }
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

    stripBlankText(reinterpret_cast<xmlNodePtr>(doc), false);

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
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->documentReplaced();
    return true;
}

bool XmlDocument::load(const QString &path)
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
    return adopt(parseBytesInternal(bytes, path, false));
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

XmlNode XmlDocument::documentNode() const
{
    return XmlNode(m_doc, nullptr);
}

XmlNode XmlDocument::documentElement() const
{
    xmlNodePtr root = xmlDocGetRootElement(m_doc);
    return root ? XmlNode(root, nullptr) : XmlNode();
}

bool XmlDocument::owns(const XmlNode &node) const
{
    if (!node.m_ptr)
        return false;
    if (node.m_owner)
        return asNode(node.m_owner)->doc == m_doc;
    const xmlNodePtr n = asNode(node.m_ptr);
    return n == reinterpret_cast<xmlNodePtr>(m_doc) || n->doc == m_doc;
}

void XmlDocument::keep(void *node)
{
    m_detached.insert(node);
}

XmlNode XmlDocument::createElement(const QString &name, QString *error)
{
    if (!checkName(name, error))
        return XmlNode();
    const QByteArray n = utf8(name);
    xmlNodePtr e = xmlNewDocNode(m_doc, nullptr, xc(n), nullptr);
    keep(e);
    return XmlNode(e, nullptr);
}

XmlNode XmlDocument::createAttribute(const QString &name, QString *error)
{
    if (!checkName(name, error))
        return XmlNode();
    const QByteArray n = utf8(name);
    xmlAttrPtr a = xmlNewDocProp(m_doc, xc(n), nullptr);
    keep(a);
    return XmlNode(a, nullptr);
}

XmlNode XmlDocument::createTextNode(const QString &text, QString *error)
{
    if (!checkContent(NodeKind::Text, text, false, error))
        return XmlNode();
    const QByteArray t = utf8(text);
    xmlNodePtr n = xmlNewDocText(m_doc, xc(t));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::createComment(const QString &text, QString *error)
{
    if (!checkContent(NodeKind::Comment, text, false, error))
        return XmlNode();
    const QByteArray t = utf8(text);
    xmlNodePtr n = xmlNewDocComment(m_doc, xc(t));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::createCDATASection(const QString &text, QString *error)
{
    if (!checkContent(NodeKind::CData, text, false, error))
        return XmlNode();
    const QByteArray t = utf8(text);
    xmlNodePtr n = xmlNewCDataBlock(m_doc, xc(t), int(t.size()));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::createProcessingInstruction(const QString &target, const QString &data, QString *error)
{
    if (!checkTarget(target, true, error)
        || !checkContent(NodeKind::ProcessingInstruction, data, target == QLatin1String("xml"), error))
        return XmlNode();
    const QByteArray t = utf8(target);
    const QByteArray d = utf8(data);
    xmlNodePtr n = xmlNewDocPI(m_doc, xc(t), data.isEmpty() ? nullptr : xc(d));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::cloneNode(const XmlNode &node)
{
    if (!node.m_ptr)
        return XmlNode();
    if (node.isAttribute()) {
        // Copied by name and value: the attribute's namespace is found again
        // where the copy is placed.
        const QByteArray name = utf8(node.nodeName());
        xmlAttrPtr a = xmlNewDocProp(m_doc, xc(name), nullptr);
        setLiteralValue(a, utf8(node.text()));
        keep(a);
        return XmlNode(a, nullptr);
    }
    const xmlNodePtr src = asNode(node.m_ptr);
    if (src->type == XML_DOCUMENT_NODE || src->type == XML_HTML_DOCUMENT_NODE)
        return XmlNode();
    xmlNodePtr copy = src->type == XML_DTD_NODE ? reinterpret_cast<xmlNodePtr>(xmlCopyDtd(reinterpret_cast<xmlDtdPtr>(src)))
                                                 : xmlDocCopyNode(src, m_doc, 1);
    if (!copy)
        return XmlNode();
    copy->doc = m_doc;
    if (src->doc != m_doc && src->type != XML_DTD_NODE)
        copy = asNode(expandForeignReferences(copy, src->doc));
    keep(copy);
    return XmlNode(copy, nullptr);
}

// References to entities this document does not declare would make the
// saved file unreadable ("entity not defined"); a copy from another
// document gets their content instead, as far as that document knows it.
void *XmlDocument::expandForeignReferences(void *copyPtr, void *sourcePtr)
{
    xmlNodePtr copy = asNode(copyPtr);
    const xmlDocPtr source = static_cast<xmlDocPtr>(sourcePtr);
    const auto foreign = [&](xmlNodePtr n) {
        if (n->type != XML_ENTITY_REF_NODE || xmlGetDocEntity(m_doc, n->name))
            return static_cast<xmlEntityPtr>(nullptr);
        xmlEntityPtr ent = source ? xmlGetDocEntity(source, n->name) : nullptr;
        return ent && ent->children ? ent : nullptr;
    };
    if (xmlEntityPtr ent = foreign(copy)) {
        xmlChar *content = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(ent));
        xmlNodePtr text = xmlNewDocText(m_doc, content ? content : BAD_CAST "");
        xmlFree(content);
        xmlFreeNode(copy);
        return text;
    }
    // Expanded content may hold further references, so repeat until none is
    // left; the source's load bounded the total expansion.
    for (;;) {
        std::vector<std::pair<xmlNodePtr, xmlEntityPtr>> found;
        forEachInSubtree(copy, [&](xmlNodePtr n) {
            if (xmlEntityPtr ent = foreign(n))
                found.emplace_back(n, ent);
            return true;
        });
        if (found.empty())
            return copy;
        for (const auto &[ref, ent] : found)
            replaceByList(ref, xmlDocCopyNodeList(m_doc, ent->children));
    }
}

void XmlDocument::notifyInserted(const XmlNode &parent, const XmlNode &node)
{
    const XmlNode next = node.nextSibling();
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->nodeInserted(parent, node, next);
}

void XmlDocument::notifyRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &next)
{
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->nodeRemoved(parent, node, next);
}

bool XmlDocument::checkInsert(const XmlNode &parent, const XmlNode &node, const XmlNode &reference,
                              QString *error) const
{
    return checkPlacement(parent, node, reference, XmlNode(), error);
}

// Whether `node` may stand under `parent` before `reference` (null: last),
// with `replacing` (if any) gone. At the document level the order matters
// too: the declaration first, the document type before the root element.
bool XmlDocument::checkPlacement(const XmlNode &parent, const XmlNode &node, const XmlNode &reference,
                                 const XmlNode &replacing, QString *error) const
{
    if (!owns(parent) || !owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    if (reference && (!owns(reference) || reference.parentNode() != parent))
        return fail(error, QStringLiteral("挿入位置のノードが親ノードの子ではありません。"));
    const NodeKind pk = parent.kind();
    const NodeKind k = node.kind();
    if (pk != NodeKind::Element && pk != NodeKind::Document)
        return fail(error, QStringLiteral("%1 は子ノードを持てません。").arg(parent.kindName()));
    if (k == NodeKind::Attribute || k == NodeKind::Document || k == NodeKind::DocumentFragment
        || k == NodeKind::Entity || k == NodeKind::Notation || k == NodeKind::Declaration || k == NodeKind::Other)
        return fail(error, QStringLiteral("%1 はこの位置に挿入できません。").arg(node.kindName()));
    if (node.isAncestorOf(parent))
        return fail(error, QStringLiteral("ノードをそれ自身の下に挿入することはできません。"));
    const auto isDeclaration = [](const XmlNode &n) {
        return n.kind() == NodeKind::ProcessingInstruction && isDeclarationTarget(asNode(n.m_ptr)->name);
    };
    const bool declaration = isDeclaration(node);
    if (pk != NodeKind::Document) {
        if (k == NodeKind::DocumentType)
            return fail(error, QStringLiteral("%1 は要素の下に挿入できません。").arg(node.kindName()));
        if (declaration)
            return fail(error, QStringLiteral("XML宣言はドキュメントの先頭にしか置けません。"));
        return true;
    }
    if (k == NodeKind::Text || k == NodeKind::CData || k == NodeKind::EntityReference)
        return fail(error, QStringLiteral("%1 はドキュメントの直下に挿入できません。").arg(node.kindName()));
    bool beforePoint = true;
    bool anyBefore = false;
    for (XmlNode c = parent.firstChild(); c; c = c.nextSibling()) {
        if (c == reference)
            beforePoint = false;
        if (c == node || c == replacing)
            continue;
        anyBefore = anyBefore || beforePoint;
        const NodeKind ck = c.kind();
        if (k == NodeKind::Element && ck == NodeKind::Element)
            return fail(error, QStringLiteral("ルート要素がすでに存在します。"));
        if (k == NodeKind::DocumentType && ck == NodeKind::DocumentType)
            return fail(error, QStringLiteral("文書型宣言がすでに存在します。"));
        if (declaration && isDeclaration(c))
            return fail(error, QStringLiteral("XML宣言がすでに存在します。"));
        if (!beforePoint && isDeclaration(c))
            return fail(error, QStringLiteral("XML宣言の前には何も置けません。"));
        if ((k == NodeKind::Element && ck == NodeKind::DocumentType && !beforePoint)
            || (k == NodeKind::DocumentType && ck == NodeKind::Element && beforePoint))
            return fail(error, QStringLiteral("文書型宣言はルート要素の前に置く必要があります。"));
    }
    if (declaration && anyBefore)
        return fail(error, QStringLiteral("XML宣言はドキュメントの先頭にしか置けません。"));
    return true;
}

bool XmlDocument::insertBefore(const XmlNode &parent, const XmlNode &node, const XmlNode &reference, QString *error)
{
    if (!checkInsert(parent, node, reference, error))
        return false;
    if (reference == node)
        return true;
    if (asNode(node.m_ptr)->parent && !removeNode(node, error))
        return false;
    const xmlNodePtr p = asNode(parent.m_ptr);
    const xmlNodePtr n = asNode(node.m_ptr);
    const xmlNodePtr ref = reference ? asNode(reference.m_ptr) : nullptr;
    n->parent = p;
    n->doc = m_doc;
    if (ref) {
        n->next = ref;
        n->prev = ref->prev;
        if (ref->prev)
            ref->prev->next = n;
        else
            p->children = n;
        ref->prev = n;
    } else {
        n->next = nullptr;
        n->prev = p->last;
        if (p->last)
            p->last->next = n;
        else
            p->children = n;
        p->last = n;
    }
    if (n->type == XML_DTD_NODE && p == reinterpret_cast<xmlNodePtr>(m_doc) && !m_doc->intSubset)
        m_doc->intSubset = reinterpret_cast<xmlDtdPtr>(n);
    fixNamespaces(m_doc, n);
    notifyInserted(parent, node);
    return true;
}

bool XmlDocument::appendChild(const XmlNode &parent, const XmlNode &node, QString *error)
{
    return insertBefore(parent, node, XmlNode(), error);
}

bool XmlDocument::removeChild(const XmlNode &parent, const XmlNode &node, QString *error)
{
    if (!owns(parent) || !owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    const XmlNode actualParent = node.isAttribute() ? node.ownerElement() : node.parentNode();
    if (actualParent != parent)
        return fail(error, QStringLiteral("削除するノードが親ノードの子ではありません。"));
    return removeNode(node, error);
}

bool XmlDocument::removeNode(const XmlNode &node, QString *error)
{
    if (!owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    if (node.isDocument())
        return fail(error, QStringLiteral("ドキュメントノードは削除できません。"));
    if (node.m_owner) {
        const xmlNodePtr owner = asNode(node.m_owner);
        const xmlNsPtr ns = asNs(node.m_ptr);
        const XmlNode parent = node.ownerElement();
        if (!parent)
            return true;
        // Names in it would lose their namespace, and the saved prefixes
        // would be undeclared.
        if (namespaceUsed(owner, ns))
            return fail(error, QStringLiteral("名前空間の宣言「%1」は使用中のため削除できません。").arg(node.nodeName()));
        const XmlNode next = node.nextSibling();
        unlinkNamespace(owner, ns);
        if (std::find(m_detachedNamespaces.begin(), m_detachedNamespaces.end(), ns) == m_detachedNamespaces.end())
            m_detachedNamespaces.push_back(ns);
        notifyRemoved(parent, node, next);
        return true;
    }
    const xmlNodePtr n = asNode(node.m_ptr);
    if (!n->parent)
        return true;
    const XmlNode parent(n->parent, nullptr);
    const XmlNode next = node.nextSibling();
    xmlUnlinkNode(n);
    keep(n);
    notifyRemoved(parent, node, next);
    return true;
}

bool XmlDocument::replaceChild(const XmlNode &parent, const XmlNode &newNode, const XmlNode &oldNode, QString *error)
{
    if (!owns(oldNode) || oldNode.isAttribute() || oldNode.parentNode() != parent)
        return fail(error, QStringLiteral("置き換えるノードが親ノードの子ではありません。"));
    if (newNode == oldNode)
        return true;
    XmlNode next = oldNode.nextSibling();
    if (next == newNode)
        next = newNode.nextSibling();
    // Checked as if the old node were already gone, so that a root element
    // can be replaced by another element.
    if (!checkPlacement(parent, newNode, next, oldNode, error))
        return false;
    if (!removeNode(oldNode, error))
        return false;
    return insertBefore(parent, newNode, next, error);
}

bool XmlDocument::setDocumentElement(const XmlNode &element, QString *error)
{
    if (!element.isElement())
        return fail(error, QStringLiteral("ルートには要素しか置けません。"));
    const XmlNode root = documentElement();
    if (root)
        return replaceChild(documentNode(), element, root, error);
    return appendChild(documentNode(), element, error);
}

bool XmlDocument::setAttributeNode(const XmlNode &element, const XmlNode &attribute, const XmlNode &reference,
                                   XmlNode *replaced, QString *error)
{
    if (replaced)
        *replaced = XmlNode();
    if (!owns(element) || !owns(attribute))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    if (!element.isElement() || !attribute.isAttribute())
        return fail(error, QStringLiteral("属性は要素にしか設定できません。"));
    const XmlNode currentOwner = attribute.ownerElement();
    if (currentOwner == element)
        return true;
    if (currentOwner)
        return fail(error, QStringLiteral("この属性は他の要素で使用されています。"));
    if (attribute.m_owner && attribute.m_owner != element.m_ptr)
        return fail(error, QStringLiteral("名前空間の宣言は他の要素に移せません。"));
    if (reference && reference.ownerElement() != element)
        return fail(error, QStringLiteral("挿入位置の属性がこの要素のものではありません。"));

    const xmlNodePtr e = asNode(element.m_ptr);
    const QString name = attribute.nodeName();
    const xmlNsPtr declaration = attribute.m_owner ? asNs(attribute.m_ptr) : nullptr;

    XmlNode before = reference;
    const XmlNode existing = element.attributeNode(name);
    if (existing) {
        if (!before || before == existing)
            before = existing.nextSibling();
        if (existing.m_owner && declaration) {
            // A declaration replaced by another of the same prefix: names
            // bound to the old one move to the new one.
            const XmlNode next = existing.nextSibling();
            unlinkNamespace(e, asNs(existing.m_ptr));
            m_detachedNamespaces.push_back(existing.m_ptr);
            repointNamespace(e, asNs(existing.m_ptr), declaration);
            notifyRemoved(element, existing, next);
        } else if (!removeNode(existing, error)) {
            return false;
        }
        if (replaced)
            *replaced = existing;
    }

    if (declaration) {
        xmlNsPtr *link = &e->nsDef;
        while (*link && !(before && before.m_owner && *link == asNs(before.m_ptr)))
            link = &(*link)->next;
        declaration->next = *link;
        *link = declaration;
        m_detachedNamespaces.erase(std::remove(m_detachedNamespaces.begin(), m_detachedNamespaces.end(), declaration),
                                   m_detachedNamespaces.end());
        notifyInserted(element, XmlNode(declaration, e));
        return true;
    }

    const xmlAttrPtr a = static_cast<xmlAttrPtr>(attribute.m_ptr);
    // Declarations always come first: before one of them means first of
    // the other attributes.
    const xmlAttrPtr ref = !before ? nullptr : before.m_owner ? e->properties : static_cast<xmlAttrPtr>(before.m_ptr);
    a->parent = e;
    a->doc = m_doc;
    if (ref) {
        a->next = ref;
        a->prev = ref->prev;
        if (ref->prev)
            ref->prev->next = a;
        else
            e->properties = a;
        ref->prev = a;
    } else {
        a->next = nullptr;
        a->prev = nullptr;
        if (!e->properties) {
            e->properties = a;
        } else {
            xmlAttrPtr last = e->properties;
            while (last->next)
                last = last->next;
            last->next = a;
            a->prev = last;
        }
    }
    fixNamespace(m_doc, reinterpret_cast<xmlNodePtr>(a), e);
    notifyInserted(element, attribute);
    return true;
}

bool XmlDocument::setAttribute(const XmlNode &element, const QString &name, const QString &value, QString *error)
{
    if (!element.isElement())
        return fail(error, QStringLiteral("属性は要素にしか設定できません。"));
    if (const XmlNode existing = element.attributeNode(name))
        return setText(existing, value, error);
    if (!checkChars(value, error))
        return false;
    if (name == QLatin1String("xmlns") || name.startsWith(QLatin1String("xmlns:")))
        return declareNamespace(element, name.mid(6), value, error);
    const XmlNode a = createAttribute(name, error);
    if (!a)
        return false;
    setLiteralValue(static_cast<xmlAttrPtr>(a.m_ptr), utf8(value));
    return setAttributeNode(element, a, XmlNode(), nullptr, error);
}

// A namespace declaration set by name is a real one, so that names with its
// prefix are bound to it; it is listed after the element's other ones.
bool XmlDocument::declareNamespace(const XmlNode &element, const QString &prefix, const QString &uri, QString *error)
{
    if (!owns(element))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    const QByteArray p = utf8(prefix);
    const QByteArray href = utf8(uri);
    if (!prefix.isEmpty() && (xmlValidateNCName(xc(p), 0) != 0 || p == "xml" || p == "xmlns" || href.isEmpty()))
        return fail(error, QStringLiteral("名前空間の宣言「xmlns:%1」は正しくありません。").arg(prefix));
    const xmlNodePtr e = asNode(element.m_ptr);
    xmlNsPtr ns = xmlNewNs(nullptr, xc(href), prefix.isEmpty() ? nullptr : xc(p));
    if (!ns)
        return fail(error, QStringLiteral("名前空間の宣言を作成できません。"));
    xmlNsPtr *link = &e->nsDef;
    while (*link)
        link = &(*link)->next;
    *link = ns;
    notifyInserted(element, XmlNode(ns, e));
    return true;
}

bool XmlDocument::removeAttribute(const XmlNode &element, const QString &name, QString *error)
{
    const XmlNode existing = element.attributeNode(name);
    return existing ? removeNode(existing, error) : true;
}

bool XmlDocument::setText(const XmlNode &node, const QString &text, QString *error)
{
    if (!owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    const NodeKind kind = node.kind();
    const bool declaration = kind == NodeKind::ProcessingInstruction && isDeclarationTarget(asNode(node.m_ptr)->name);
    if (!checkContent(kind, text, declaration, error))
        return false;
    const QString old = node.text();
    const QByteArray t = utf8(text);
    switch (kind) {
    case NodeKind::Attribute:
        if (node.m_owner) {
            const xmlNsPtr ns = asNs(node.m_ptr);
            if (ns->prefix && text.isEmpty())
                return fail(error, QStringLiteral("接頭辞付きの名前空間の宣言を空にすることはできません。"));
            xmlFree(const_cast<xmlChar *>(ns->href));
            ns->href = xmlStrdup(xc(t));
        } else {
            // An ID's table entry is keyed by its value.
            const xmlAttrPtr a = static_cast<xmlAttrPtr>(node.m_ptr);
            const bool id = a->atype == XML_ATTRIBUTE_ID && a->parent;
            if (id)
                xmlRemoveID(m_doc, a);
            setLiteralValue(a, t);
            if (id)
                xmlAddID(nullptr, m_doc, xc(t), a);
        }
        break;
    case NodeKind::Comment:
    case NodeKind::CData:
    case NodeKind::ProcessingInstruction:
    case NodeKind::Text:
        xmlNodeSetContent(asNode(node.m_ptr), xc(t));
        break;
    case NodeKind::Element: {
        while (XmlNode c = node.firstChild())
            if (!removeNode(c, error))
                return false;
        if (!text.isEmpty())
            return appendChild(node, createTextNode(text), error);
        return true;
    }
    default:
        return fail(error, QStringLiteral("%1 のテキストは変更できません。").arg(node.kindName()));
    }
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->textChanged(node, old);
    return true;
}

bool XmlDocument::rename(const XmlNode &node, const QString &name, QString *error)
{
    if (!owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    const NodeKind k = node.kind();
    if (k != NodeKind::Element && k != NodeKind::ProcessingInstruction && (k != NodeKind::Attribute || node.m_owner))
        return fail(error, QStringLiteral("%1 の名前は変更できません。").arg(node.kindName()));
    // A PI becomes the declaration only where one may stand: first in the
    // document, with a declaration's content (undo renames one back).
    const xmlNodePtr self = asNode(node.m_ptr);
    const bool asDeclaration = k == NodeKind::ProcessingInstruction && name == QLatin1String("xml")
        && self->parent == reinterpret_cast<xmlNodePtr>(m_doc) && !self->prev
        && checkContent(k, node.text(), true, nullptr);
    if (k == NodeKind::ProcessingInstruction ? !checkTarget(name, asDeclaration, error) : !checkName(name, error))
        return false;
    const QString old = node.nodeName();
    if (old == name)
        return true;
    if (k == NodeKind::Attribute) {
        const XmlNode owner = node.ownerElement();
        if (owner && owner.attributeNode(name))
            return fail(error, QStringLiteral("属性「%1」はすでに存在します。").arg(name));
        if (name == QLatin1String("xmlns") || name.startsWith(QLatin1String("xmlns:")))
            return fail(error, QStringLiteral("属性の名前を名前空間の宣言に変更することはできません。"));
    }
    const xmlNodePtr n = asNode(node.m_ptr);
    xmlNodeSetName(n, xc(utf8(name)));
    if (k != NodeKind::ProcessingInstruction) {
        // The name is read as markup would be where the node stands.
        namespaceOf(n) = nullptr;
        fixNamespace(m_doc, n, k == NodeKind::Attribute ? n->parent : n);
    }
    for (XmlDocumentObserver *o : std::vector<XmlDocumentObserver *>(m_observers))
        o->nodeRenamed(node, old);
    return true;
}

QString XmlDocument::declaredEncoding() const
{
    const xmlNodePtr first = m_doc ? m_doc->children : nullptr;
    if (first && first->type == XML_PI_NODE && xmlStrEqual(first->name, BAD_CAST "xml")) {
        static const QRegularExpression re(QStringLiteral("encoding\\s*=\\s*([\"'])([^\"']*)\\1"));
        const QRegularExpressionMatch m = re.match(fromXml(first->content));
        if (m.hasMatch() && !m.captured(2).trimmed().isEmpty())
            return m.captured(2).trimmed();
    }
    return QStringLiteral("UTF-8");
}

bool XmlDocument::dump(const XmlNode &node, QByteArray *out, const char *encoding, qsizetype limit) const
{
    SaveSink sink{out, limit};
    // Anything but blanks and tabs would be written into the markup.
    static const QRegularExpression blanks(QStringLiteral("^[ \\t]*$"));
    IndentScope indent(blanks.match(m_indentUnit).hasMatch() ? m_indentUnit : QStringLiteral("  "));
    // libxml2 writes non-ASCII characters of attribute values as character
    // references unless the document names an output encoding; name the one
    // used for this output, and put the document's own back afterwards.
    const xmlChar *previousEncoding = m_doc->encoding;
    m_doc->encoding = reinterpret_cast<const xmlChar *>(encoding);
    xmlSaveCtxtPtr ctxt = xmlSaveToIO(saveWrite, saveClose, &sink, encoding, XML_SAVE_FORMAT | XML_SAVE_NO_DECL);
    if (!ctxt) {
        m_doc->encoding = previousEncoding;
        return false;
    }
    const xmlNodePtr top = node.isDocument() ? reinterpret_cast<xmlNodePtr>(m_doc) : asNode(node.m_ptr);
    std::optional<TreeCut> cut;
    if (limit > 0)
        cut.emplace(top, limit);
    if (node.isDocument()) {
        PreserveGuard guard(reinterpret_cast<xmlNodePtr>(m_doc));
        NamespaceUriGuard uris(reinterpret_cast<xmlNodePtr>(m_doc));
        xmlSaveDoc(ctxt, m_doc);
        xmlSaveClose(ctxt);
    } else {
        PreserveGuard guard(asNode(node.m_ptr));
        NamespaceUriGuard uris(asNode(node.m_ptr));
        xmlSaveTree(ctxt, asNode(node.m_ptr));
        xmlSaveClose(ctxt);
    }
    m_doc->encoding = previousEncoding;
    return sink.stopped;
}

QString XmlDocument::xml(const XmlNode &node, qsizetype maxBytes, bool *truncated) const
{
    *truncated = false;
    if (!owns(node) || node.m_owner || node.isAttribute() || maxBytes <= 0)
        return xml(node);
    QByteArray out;
    if (!dump(node, &out, "UTF-8", maxBytes)) {
        QString result = QString::fromUtf8(out);
        if (node.isDocument() && result.endsWith(QLatin1Char('\n')))
            result.chop(1);
        return result;
    }
    *truncated = true;
    // Whole lines only: the cut may fall inside a character or a tag.
    out.truncate(maxBytes);
    const qsizetype lastLine = out.lastIndexOf('\n');
    out.truncate(lastLine > 0 ? lastLine : 0);
    return QString::fromUtf8(out);
}

QString XmlDocument::xml(const XmlNode &node) const
{
    if (!owns(node))
        return QString();
    if (node.m_owner) {
        QString value = node.text();
        // Escaped as the serialiser escapes attribute values.
        value.replace(QLatin1Char('&'), QLatin1String("&amp;"))
            .replace(QLatin1Char('<'), QLatin1String("&lt;"))
            .replace(QLatin1Char('>'), QLatin1String("&gt;"))
            .replace(QLatin1Char('"'), QLatin1String("&quot;"))
            .replace(QLatin1Char('\n'), QLatin1String("&#10;"))
            .replace(QLatin1Char('\r'), QLatin1String("&#13;"))
            .replace(QLatin1Char('\t'), QLatin1String("&#9;"));
        return node.nodeName() + QStringLiteral("=\"") + value + QLatin1Char('"');
    }
    QByteArray out;
    dump(node, &out, "UTF-8");
    QString result = QString::fromUtf8(out);
    if (node.isAttribute() && result.startsWith(QLatin1Char(' ')))
        result.remove(0, 1);
    if (node.isDocument() && result.endsWith(QLatin1Char('\n')))
        result.chop(1);
    return result;
}

bool XmlDocument::serialize(QByteArray *out, QString *error) const
{
    // Without a root element the file would not parse again: refuse rather
    // than overwrite a readable file with it.
    if (!xmlDocGetRootElement(m_doc))
        return fail(error, QStringLiteral("ルート要素がないため保存できません。"));
    const QString encoding = declaredEncoding();
    const QByteArray enc = encoding.toLatin1();
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(enc.constData());
    if (!handler)
        return fail(error, QStringLiteral("文字コード「%1」では保存できません。").arg(encoding));
    xmlCharEncCloseFunc(handler);
    out->clear();
    const bool utf8Output = encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0
        || encoding.compare(QLatin1String("UTF8"), Qt::CaseInsensitive) == 0;
    if (m_byteOrderMark && utf8Output)
        out->append("\xEF\xBB\xBF");
    dump(documentNode(), out, enc.constData());
    return true;
}

bool XmlDocument::save(const QString &path, QString *error) const
{
    QByteArray bytes;
    if (!serialize(&bytes, error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, QStringLiteral("ファイルに書き込めません: %1 (%2)").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        return fail(error, QStringLiteral("ファイルに書き込めません: %1 (%2)").arg(path, file.errorString()));
    return true;
}

bool XmlDocument::selectNodes(const QString &expression, const XmlNode &context, QList<XmlNode> *result,
                              QString *error) const
{
    if (!result)
        return fail(error, QStringLiteral("結果の格納先がありません。"));
    result->clear();
    const XmlNode ctxNode = context ? context : documentNode();
    if (!owns(ctxNode))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    xmlXPathContextPtr ctx = xmlXPathNewContext(m_doc);
    if (!ctx)
        return fail(error, QStringLiteral("out of memory"));
    XmlParseError captured;
    ctx->userData = &captured;
    ctx->error = [](void *data, xmlErrorPtr e) {
        auto *err = static_cast<XmlParseError *>(data);
        if (err->errorCode == 0 && e) {
            err->errorCode = e->code ? e->code : -1;
            err->reason = QString::fromUtf8(e->message ? e->message : "").trimmed();
        }
    };
    const xmlNodePtr cn = ctxNode.m_owner ? asNode(ctxNode.m_owner) : asNode(ctxNode.m_ptr);
    ctx->node = cn;
    // Prefixes declared in scope may be used in the expression; so may, when
    // the expression has prefixes at all, one declared anywhere else in the
    // document (the first declaration of a prefix wins).
    std::vector<const xmlChar *> registered;
    const auto add = [&](xmlNsPtr ns) {
        if (!ns->prefix || !ns->href)
            return;
        for (const xmlChar *p : registered)
            if (xmlStrEqual(p, ns->prefix))
                return;
        registered.push_back(ns->prefix);
        xmlXPathRegisterNs(ctx, ns->prefix, ns->href);
    };
    if (xmlNsPtr *list = xmlGetNsList(m_doc, cn->type == XML_DOCUMENT_NODE ? xmlDocGetRootElement(m_doc) : cn)) {
        for (xmlNsPtr *p = list; *p; ++p)
            add(*p);
        xmlFree(list);
    }
    if (expression.contains(QLatin1Char(':'))) {
        forEachInList(m_doc->children, [&](xmlNodePtr n) {
            if (n->type == XML_ELEMENT_NODE)
                for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
                    add(ns);
            return true;
        });
    }
    const QByteArray expr = utf8(expression);
    xmlXPathObjectPtr obj = xmlXPathEvalExpression(xc(expr), ctx);
    bool ok = true;
    if (!obj) {
        ok = fail(error, captured.reason.isEmpty() ? QStringLiteral("XPath式を評価できません。") : captured.reason);
    } else if (obj->type != XPATH_NODESET) {
        ok = fail(error, QStringLiteral("式の結果がノードセットではありません。"));
    } else if (obj->nodesetval) {
        for (int i = 0; i < obj->nodesetval->nodeNr; ++i) {
            xmlNodePtr n = obj->nodesetval->nodeTab[i];
            if (n->type == XML_NAMESPACE_DECL) {
                // XPath hands out copies of namespace nodes whose `next` is
                // the element they belong to; find the declaration itself.
                const xmlNsPtr copy = reinterpret_cast<xmlNsPtr>(n);
                const xmlNodePtr owner = reinterpret_cast<xmlNodePtr>(copy->next);
                for (xmlNodePtr e = owner; e && e->type == XML_ELEMENT_NODE; e = e->parent) {
                    for (xmlNsPtr d = e->nsDef; d; d = d->next) {
                        if (xmlStrEqual(d->prefix, copy->prefix)) {
                            if (e == owner)
                                result->append(XmlNode(d, e));
                            e = nullptr;
                            break;
                        }
                    }
                    if (!e)
                        break;
                }
                continue;
            }
            result->append(XmlNode(n, nullptr));
        }
    }
    if (obj)
        xmlXPathFreeObject(obj);
    xmlXPathFreeContext(ctx);
    return ok;
}

void XmlDocument::addObserver(XmlDocumentObserver *observer)
{
    if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void XmlDocument::removeObserver(XmlDocumentObserver *observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}
