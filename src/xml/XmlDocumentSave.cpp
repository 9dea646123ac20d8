// Writing markup: previews of nodes, serialisation and saving to a file.
#include "XmlDocument.h"

#include "Encodings.h"
#include "LibXmlSupport.h"
#include "SaveTarget.h"
#include "XmlDocumentInternal.h"

#include <QRegularExpression>

#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <optional>

using libxml::asNode;
using libxml::fromXml;
using namespace xmldoc;

namespace {

struct SaveSink
{
    QByteArray *out;
    qsizetype limit; // 0: none
    const XmlDocument::Progress *progress = nullptr; // told of each chunk
    qint64 total = 0;
    bool stopped = false;
    bool cancelled = false;
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
    // Heard every 256 KB: a small document's save reports nothing.
    constexpr qsizetype kStep = 256 * 1024;
    const qsizetype size = sink->out->size();
    if (sink->progress && *sink->progress && size / kStep != (size - len) / kStep
        && !(*sink->progress)(size, sink->total)) {
        sink->cancelled = true;
        return -1;
    }
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

// Markup copied out of the document stands on its own: the top element
// declares, for as long as it is written, the namespaces its subtree uses
// that are declared above it.
class InheritedNamespaces
{
public:
    explicit InheritedNamespaces(xmlNodePtr top) : m_top(top)
    {
        if (top->type != XML_ELEMENT_NODE)
            return;
        std::vector<xmlNsPtr> declaredInside;
        std::vector<xmlNsPtr> used;
        forEachInSubtree(top, [&](xmlNodePtr n) {
            if (n->type == XML_ELEMENT_NODE)
                for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
                    declaredInside.push_back(ns);
            if (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE)
                if (xmlNsPtr ns = namespaceOf(n); ns && std::find(used.begin(), used.end(), ns) == used.end())
                    used.push_back(ns);
            return true;
        });
        // Written first, in the order of use.
        for (auto ns = used.rbegin(); ns != used.rend(); ++ns) {
            if (std::find(declaredInside.begin(), declaredInside.end(), *ns) != declaredInside.end()
                || ((*ns)->prefix && xmlStrEqual((*ns)->prefix, BAD_CAST "xml")) || declares((*ns)->prefix))
                continue;
            xmlNsPtr copy = xmlNewNs(nullptr, (*ns)->href, (*ns)->prefix);
            if (!copy)
                continue;
            copy->next = m_top->nsDef;
            m_top->nsDef = copy;
            ++m_added;
        }
    }
    ~InheritedNamespaces()
    {
        for (; m_added > 0; --m_added) {
            xmlNsPtr ns = m_top->nsDef;
            m_top->nsDef = ns->next;
            ns->next = nullptr;
            xmlFreeNs(ns);
        }
    }
    InheritedNamespaces(const InheritedNamespaces &) = delete;
    InheritedNamespaces &operator=(const InheritedNamespaces &) = delete;

private:
    bool declares(const xmlChar *prefix) const
    {
        for (xmlNsPtr ns = m_top->nsDef; ns; ns = ns->next)
            if (xmlStrEqual(ns->prefix, prefix))
                return true;
        return false;
    }
    xmlNodePtr m_top;
    int m_added = 0;
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

} // namespace

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

bool XmlDocument::dump(const XmlNode &node, QByteArray *out, const char *encoding, qsizetype limit, bool format,
                       const Progress *progress) const
{
    SaveSink sink{out, limit, progress, m_sourceSize};
    // Anything but blanks and tabs would be written into the markup.
    static const QRegularExpression blanks(QStringLiteral("^[ \\t]*$"));
    IndentScope indent(blanks.match(m_indentUnit).hasMatch() ? m_indentUnit : QStringLiteral("  "));
    // libxml2 writes non-ASCII characters of attribute values as character
    // references unless the document names an output encoding; name the one
    // used for this output, and put the document's own back afterwards.
    const xmlChar *previousEncoding = m_doc->encoding;
    m_doc->encoding = reinterpret_cast<const xmlChar *>(encoding);
    // XML_SAVE_NO_XHTML: an XHTML document would get a <meta> element and
    // rewritten empty elements that the document does not hold.
    xmlSaveCtxtPtr ctxt = xmlSaveToIO(saveWrite, saveClose, &sink, encoding,
                                      (format ? XML_SAVE_FORMAT : 0) | XML_SAVE_NO_DECL | XML_SAVE_NO_XHTML);
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
    return sink.stopped || sink.cancelled;
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
    return QString::fromUtf8(xmlUtf8(node));
}

QByteArray XmlDocument::xmlUtf8(const XmlNode &node) const
{
    if (!owns(node))
        return QByteArray();
    if (node.m_owner)
        return xml(node).toUtf8();
    QByteArray out;
    dump(node, &out, "UTF-8");
    if (node.isAttribute() && out.startsWith(' '))
        out.remove(0, 1);
    if (node.isDocument() && out.endsWith('\n'))
        out.chop(1);
    return out;
}

QString XmlDocument::portableXml(const XmlNode &node) const
{
    if (owns(node) && !node.m_owner && node.isAttribute()) {
        // A prefixed attribute carries its declaration after it, as an
        // element carries its own.
        const xmlNsPtr ns = namespaceOf(asNode(node.m_ptr));
        QString result = xml(node);
        const xmlNodePtr element = asNode(node.m_ptr)->parent;
        if (element && ns && ns->prefix && ns->href && !xmlStrEqual(ns->prefix, reinterpret_cast<const xmlChar *>("xml"))) {
            const XmlNode declaration(ns, element);
            result += QLatin1Char(' ') + xml(declaration);
        }
        return result;
    }
    if (!owns(node) || node.m_owner || !node.isElement())
        return xml(node);
    settle(); // the tree is changed for as long as it is written
    const InheritedNamespaces inherited(asNode(node.m_ptr));
    return xml(node);
}

bool XmlDocument::serialize(QByteArray *out, QString *error, const Progress &progress) const
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
    if (const QString unwritable = libxml::unwritableMarkup(m_doc, encoding); !unwritable.isEmpty())
        return fail(error, unwritable);
    out->clear();
    if (canSplice(enc)) {
        splice(out);
        return true;
    }
    const bool utf8Output = encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0
        || encoding.compare(QLatin1String("UTF8"), Qt::CaseInsensitive) == 0;
    if (m_byteOrderMark && utf8Output)
        out->append("\xEF\xBB\xBF");
    if (dump(documentNode(), out, enc.constData(), 0, true, &progress)) {
        out->clear();
        return fail(error, QStringLiteral("cancelled"));
    }
    return true;
}

bool XmlDocument::save(const QString &path, QString *error, const Progress &progress) const
{
    QByteArray bytes;
    if (!serialize(&bytes, error, progress))
        return false;
    return savetarget::write(path, bytes, error);
}
