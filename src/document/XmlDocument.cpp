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
#include <cstring>

using libxml::fromXml;

namespace {

inline xmlNodePtr asNode(void *p)
{
    return static_cast<xmlNodePtr>(p);
}

inline xmlNsPtr asNs(void *p)
{
    return static_cast<xmlNsPtr>(p);
}

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
        } else if (child->type == XML_ELEMENT_NODE && child->children) {
            const int space = xmlSpaceOf(child);
            stripBlankText(child, space == -1 ? preserve : space == 1);
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
        if (j < limit && bytes[j] == '\t')
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

thread_local XmlParseError *t_firstError = nullptr;

void recordParseError(void *, xmlErrorPtr error)
{
    if (!t_firstError || !error || error->level < XML_ERR_ERROR || t_firstError->errorCode != 0)
        return;
    t_firstError->errorCode = error->code ? error->code : -1;
    t_firstError->reason = QString::fromUtf8(error->message ? error->message : "").trimmed();
    t_firstError->line = error->line;
    t_firstError->column = error->int2;
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

bool checkName(const QString &name, QString *error)
{
    const QByteArray n = utf8(name);
    if (name.isEmpty() || xmlValidateName(xc(n), 0) != 0) {
        if (error)
            *error = QStringLiteral("「%1」はXMLの名前として正しくありません。").arg(name);
        return false;
    }
    return true;
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

int saveWrite(void *context, const char *buffer, int len)
{
    static_cast<QByteArray *>(context)->append(buffer, len);
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
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        result.error = {-1, QStringLiteral("out of memory"), 0, 0};
        return result;
    }
    ctxt->sax->serror = recordParseError;
    XmlParseError firstError;
    t_firstError = &firstError;
    const QByteArray urlBytes = url.isEmpty() ? QByteArray() : QFile::encodeName(url);
    ByteReader reader{bytes.constData(), bytes.size()};
    xmlDocPtr doc = xmlCtxtReadIO(ctxt, ByteReader::read, nullptr, &reader,
                                  urlBytes.isEmpty() ? nullptr : urlBytes.constData(),
                                  forceUtf8 ? "UTF-8" : nullptr, kParseOptions);
    t_firstError = nullptr;
    if (!doc || !ctxt->wellFormed) {
        if (doc)
            xmlFreeDoc(doc);
        result.error = firstError;
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
    xmlAttrPtr a = xmlNewDocProp(m_doc, xc(n), BAD_CAST "");
    keep(a);
    return XmlNode(a, nullptr);
}

XmlNode XmlDocument::createTextNode(const QString &text)
{
    const QByteArray t = utf8(text);
    xmlNodePtr n = xmlNewDocText(m_doc, xc(t));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::createComment(const QString &text)
{
    const QByteArray t = utf8(text);
    xmlNodePtr n = xmlNewDocComment(m_doc, xc(t));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::createCDATASection(const QString &text)
{
    const QByteArray t = utf8(text);
    xmlNodePtr n = xmlNewCDataBlock(m_doc, xc(t), int(t.size()));
    keep(n);
    return XmlNode(n, nullptr);
}

XmlNode XmlDocument::createProcessingInstruction(const QString &target, const QString &data, QString *error)
{
    if (!checkName(target, error))
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
        const QByteArray value = utf8(node.text());
        xmlAttrPtr a = xmlNewDocProp(m_doc, xc(name), xc(value));
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
    keep(copy);
    return XmlNode(copy, nullptr);
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
    if (!owns(parent) || !owns(node))
        return fail(error, QStringLiteral("このドキュメントのノードではありません。"));
    if (reference && (!owns(reference) || reference.parentNode() != parent))
        return fail(error, QStringLiteral("挿入位置のノードが親ノードの子ではありません。"));
    const NodeKind pk = parent.kind();
    const NodeKind k = node.kind();
    if (pk != NodeKind::Element && pk != NodeKind::Document)
        return fail(error, QStringLiteral("%1 は子ノードを持てません。").arg(parent.kindName()));
    if (k == NodeKind::Attribute || k == NodeKind::Document || k == NodeKind::DocumentFragment
        || k == NodeKind::Entity || k == NodeKind::Notation || k == NodeKind::Declaration)
        return fail(error, QStringLiteral("%1 はこの位置に挿入できません。").arg(node.kindName()));
    if (node.isAncestorOf(parent))
        return fail(error, QStringLiteral("ノードをそれ自身の下に挿入することはできません。"));
    if (pk == NodeKind::Document) {
        if (k == NodeKind::Text || k == NodeKind::CData || k == NodeKind::EntityReference)
            return fail(error, QStringLiteral("%1 はドキュメントの直下に挿入できません。").arg(node.kindName()));
        if (k == NodeKind::Element || k == NodeKind::DocumentType) {
            for (XmlNode c = parent.firstChild(); c; c = c.nextSibling())
                if (c.kind() == k && c != node)
                    return fail(error, k == NodeKind::Element ? QStringLiteral("ルート要素がすでに存在します。")
                                                             : QStringLiteral("文書型宣言がすでに存在します。"));
        }
    } else if (k == NodeKind::DocumentType) {
        return fail(error, QStringLiteral("%1 は要素の下に挿入できません。").arg(node.kindName()));
    }
    return true;
}

bool XmlDocument::insertBefore(const XmlNode &parent, const XmlNode &node, const XmlNode &reference, QString *error)
{
    if (!checkInsert(parent, node, reference, error))
        return false;
    if (reference == node)
        return true;
    if (node.isAttached() || asNode(node.m_ptr)->parent) {
        if (!removeNode(node, error))
            return false;
    }
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
    if (n->type == XML_ELEMENT_NODE && !n->ns && xmlStrchr(n->name, ':')) {
        // A prefixed name made by createElement: bind it to the namespace in
        // scope where it now stands, when there is one.
        const xmlChar *colon = xmlStrchr(n->name, ':');
        xmlChar *prefix = xmlStrndup(n->name, int(colon - n->name));
        if (xmlNsPtr ns = xmlSearchNs(m_doc, n, prefix)) {
            xmlChar *local = xmlStrdup(colon + 1);
            xmlNodeSetName(n, local);
            xmlFree(local);
            n->ns = ns;
        }
        xmlFree(prefix);
    }
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
        const XmlNode next = node.nextSibling();
        xmlNsPtr *link = &owner->nsDef;
        while (*link && *link != ns)
            link = &(*link)->next;
        *link = ns->next;
        ns->next = nullptr;
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
    if (!owns(oldNode) || oldNode.parentNode() != parent)
        return fail(error, QStringLiteral("置き換えるノードが親ノードの子ではありません。"));
    if (newNode == oldNode)
        return true;
    XmlNode next = oldNode.nextSibling();
    // Check as if the old node were already gone, so that a root element
    // can be replaced by another element.
    if (!checkInsert(parent, newNode, XmlNode(), error)) {
        const bool onlyConflictIsOld = newNode.isElement() && parent.isDocument() && oldNode.isElement();
        if (!onlyConflictIsOld)
            return false;
        for (XmlNode c = parent.firstChild(); c; c = c.nextSibling())
            if (c.isElement() && c != oldNode && c != newNode)
                return false;
        if (newNode.isAncestorOf(parent) || !owns(newNode))
            return false;
    }
    if (next == newNode)
        next = newNode.nextSibling();
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

    XmlNode before = reference;
    const XmlNode existing = element.attributeNode(attribute.nodeName());
    if (existing) {
        if (!before || before == existing)
            before = existing.nextSibling();
        if (!removeNode(existing, error))
            return false;
        if (replaced)
            *replaced = existing;
    }

    const xmlNodePtr e = asNode(element.m_ptr);
    if (attribute.m_owner) {
        // A namespace declaration goes back among the declarations.
        const xmlNsPtr ns = asNs(attribute.m_ptr);
        xmlNsPtr *link = &e->nsDef;
        while (*link && !(before && before.m_owner && *link == asNs(before.m_ptr)))
            link = &(*link)->next;
        ns->next = *link;
        *link = ns;
        m_detachedNamespaces.erase(std::remove(m_detachedNamespaces.begin(), m_detachedNamespaces.end(), ns),
                                   m_detachedNamespaces.end());
        notifyInserted(element, attribute);
        return true;
    }

    const xmlAttrPtr a = static_cast<xmlAttrPtr>(attribute.m_ptr);
    const xmlAttrPtr ref = before && !before.m_owner ? static_cast<xmlAttrPtr>(before.m_ptr) : nullptr;
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
    if (!a->ns && xmlStrchr(a->name, ':')) {
        const xmlChar *colon = xmlStrchr(a->name, ':');
        xmlChar *prefix = xmlStrndup(a->name, int(colon - a->name));
        if (xmlNsPtr ns = xmlSearchNs(m_doc, e, prefix)) {
            xmlChar *local = xmlStrdup(colon + 1);
            xmlNodeSetName(reinterpret_cast<xmlNodePtr>(a), local);
            xmlFree(local);
            a->ns = ns;
        }
        xmlFree(prefix);
    }
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
    const XmlNode a = createAttribute(name, error);
    if (!a)
        return false;
    setText(a, value);
    return setAttributeNode(element, a, XmlNode(), nullptr, error);
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
    if (!checkChars(text, error))
        return false;
    const QString old = node.text();
    const QByteArray t = utf8(text);
    switch (node.kind()) {
    case NodeKind::Attribute:
        if (node.m_owner) {
            const xmlNsPtr ns = asNs(node.m_ptr);
            xmlFree(const_cast<xmlChar *>(ns->href));
            ns->href = xmlStrdup(xc(t));
        } else {
            // The value is literal text: no entity references are parsed out.
            const xmlAttrPtr a = static_cast<xmlAttrPtr>(node.m_ptr);
            xmlFreeNodeList(a->children);
            a->children = a->last = nullptr;
            xmlNodePtr value = xmlNewDocText(m_doc, xc(t));
            value->parent = reinterpret_cast<xmlNodePtr>(a);
            a->children = a->last = value;
        }
        break;
    case NodeKind::Comment:
        if (text.contains(QLatin1String("--")) || text.endsWith(QLatin1Char('-')))
            return fail(error, QStringLiteral("コメントに \"--\" を含めたり、\"-\" で終えたりすることはできません。"));
        xmlNodeSetContent(asNode(node.m_ptr), xc(t));
        break;
    case NodeKind::CData:
        if (text.contains(QLatin1String("]]>")))
            return fail(error, QStringLiteral("CDATAセクションに \"]]>\" を含めることはできません。"));
        xmlNodeSetContent(asNode(node.m_ptr), xc(t));
        break;
    case NodeKind::ProcessingInstruction:
        if (text.contains(QLatin1String("?>")))
            return fail(error, QStringLiteral("処理命令に \"?>\" を含めることはできません。"));
        xmlNodeSetContent(asNode(node.m_ptr), xc(t));
        break;
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
    if (!checkName(name, error))
        return false;
    const QString old = node.nodeName();
    if (old == name)
        return true;
    if (k == NodeKind::Attribute) {
        const XmlNode owner = node.ownerElement();
        if (owner && owner.attributeNode(name))
            return fail(error, QStringLiteral("属性「%1」はすでに存在します。").arg(name));
    }
    const xmlNodePtr n = asNode(node.m_ptr);
    const QByteArray full = utf8(name);
    xmlNsPtr ns = nullptr;
    QByteArray local = full;
    const int colon = int(full.indexOf(':'));
    if (colon > 0 && k != NodeKind::ProcessingInstruction) {
        const QByteArray prefix = full.left(colon);
        xmlNodePtr scope = k == NodeKind::Attribute ? n->parent : n;
        ns = scope ? xmlSearchNs(m_doc, scope, xc(prefix)) : nullptr;
        if (ns)
            local = full.mid(colon + 1);
    } else if (k == NodeKind::Element && n->ns && !n->ns->prefix) {
        ns = n->ns; // an unprefixed name stays in the default namespace
    }
    xmlNodeSetName(n, xc(local));
    if (k == NodeKind::Element)
        n->ns = ns;
    else if (k == NodeKind::Attribute)
        reinterpret_cast<xmlAttrPtr>(n)->ns = ns;
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

void XmlDocument::dump(const XmlNode &node, QByteArray *out, const char *encoding) const
{
    IndentScope indent(m_indentUnit);
    // libxml2 writes non-ASCII characters of attribute values as character
    // references unless the document names an output encoding; name the one
    // used for this output, and put the document's own back afterwards.
    const xmlChar *previousEncoding = m_doc->encoding;
    m_doc->encoding = reinterpret_cast<const xmlChar *>(encoding);
    xmlSaveCtxtPtr ctxt = xmlSaveToIO(saveWrite, saveClose, out, encoding, XML_SAVE_FORMAT | XML_SAVE_NO_DECL);
    if (!ctxt) {
        m_doc->encoding = previousEncoding;
        return;
    }
    if (node.isDocument()) {
        PreserveGuard guard(reinterpret_cast<xmlNodePtr>(m_doc));
        xmlSaveDoc(ctxt, m_doc);
        xmlSaveClose(ctxt);
    } else {
        PreserveGuard guard(asNode(node.m_ptr));
        xmlSaveTree(ctxt, asNode(node.m_ptr));
        xmlSaveClose(ctxt);
    }
    m_doc->encoding = previousEncoding;
}

QString XmlDocument::xml(const XmlNode &node) const
{
    if (!owns(node))
        return QString();
    if (node.m_owner) {
        QString value = node.text();
        value.replace(QLatin1Char('&'), QLatin1String("&amp;")).replace(QLatin1Char('<'), QLatin1String("&lt;"))
            .replace(QLatin1Char('"'), QLatin1String("&quot;"));
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
    // Prefixes declared in scope may be used in the expression.
    if (xmlNsPtr *list = xmlGetNsList(m_doc, cn->type == XML_DOCUMENT_NODE ? xmlDocGetRootElement(m_doc) : cn)) {
        for (xmlNsPtr *p = list; *p; ++p)
            if ((*p)->prefix)
                xmlXPathRegisterNs(ctx, (*p)->prefix, (*p)->href);
        xmlFree(list);
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
