// Saving over the loaded source: markup the user did not change is copied
// byte for byte, changed markup is written anew in the file's manner.
#include "XmlDocument.h"

#include "XmlDocumentInternal.h"
#include "XmlSource.h"

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <functional>
#include <optional>

using namespace xmldoc;

namespace {

// What a node's own markup says: its kind, name and content, or an
// element's name, namespace declarations and attributes. Equal signatures
// write equal markup.
QByteArray signature(xmlNodePtr n)
{
    QByteArray s;
    const auto add = [&s](const xmlChar *text) {
        s += text ? reinterpret_cast<const char *>(text) : "";
        s += '\0';
    };
    s += char('0' + n->type);
    add(n->name);
    if (n->type != XML_ELEMENT_NODE) {
        add(n->content);
        return s;
    }
    add(n->ns ? n->ns->prefix : nullptr);
    for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next) {
        add(ns->prefix);
        add(ns->href);
    }
    for (xmlAttrPtr a = n->properties; a; a = a->next) {
        s += '@';
        add(a->ns ? a->ns->prefix : nullptr);
        add(a->name);
        for (xmlNodePtr v = a->children; v; v = v->next) {
            s += char('0' + v->type);
            add(v->type == XML_ENTITY_REF_NODE ? v->name : v->content);
        }
    }
    return s;
}

bool preservesSpace(xmlNodePtr n)
{
    for (; n && n->type == XML_ELEMENT_NODE; n = n->parent) {
        const int s = xmlSpaceOf(n);
        if (s != -1)
            return s == 1;
    }
    return false;
}

// Whether text in the subtree holds line breaks, which re-indenting the
// lines of its markup would change.
bool hasTextLineBreak(xmlNodePtr top)
{
    bool found = false;
    forEachInSubtree(top, [&found](xmlNodePtr n) {
        found = n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE && n->content
            && xmlStrchr(n->content, '\n');
        return !found;
    });
    return found;
}

class Splicer
{
public:
    enum class Part { Whole, Inline, StartTag };
    using Dump = std::function<QByteArray(xmlNodePtr, Part)>;

    Splicer(const XmlSource &s, const XmlDocument::SourceChanges &changes, const QByteArray &unit, Dump dump, QByteArray *out)
        : m_s(s), m_changes(changes), m_unit(unit), m_dump(std::move(dump)), m_out(out)
    {
    }

    void document(xmlDocPtr doc)
    {
        m_out->append(m_s.bytes.left(m_s.bomLength));
        children(reinterpret_cast<xmlNodePtr>(doc), m_s.bomLength, m_s.size(), false);
    }

private:
    void copy(qsizetype from, qsizetype to) { m_out->append(m_s.bytes.constData() + from, to - from); }
    // Markup written by the serialiser (UTF-8 for a UTF-16 source, else in
    // the file's encoding), with the file's line ends and, where only
    // formatting breaks lines, each line indented by `indent`.
    void write(QByteArray markup, const QByteArray &indent = QByteArray())
    {
        const QByteArray lineBreak = m_s.lineEnd + indent;
        if (lineBreak != "\n")
            markup.replace("\n", lineBreak);
        if (m_s.coding == SourceCoding::Utf16LE || m_s.coding == SourceCoding::Utf16BE) {
            const QString text = QString::fromUtf8(markup);
            for (const QChar c : text) {
                const char16_t u = c.unicode();
                const char lo = char(u & 0xFF), hi = char(u >> 8);
                m_out->append(m_s.coding == SourceCoding::Utf16LE ? lo : hi);
                m_out->append(m_s.coding == SourceCoding::Utf16LE ? hi : lo);
            }
        } else {
            m_out->append(markup);
        }
    }
    QByteArray asciiOf(qsizetype from, qsizetype to) const
    {
        QByteArray text;
        for (qsizetype i = from; i < to; i += m_s.unit())
            text.append(char(m_s.at(i)));
        return text;
    }

    bool changed(xmlNodePtr n) const { return m_changes.changed.contains(n); }
    bool ownClean(xmlNodePtr n) const
    {
        const auto it = m_changes.originalMarkup.constFind(n);
        return it == m_changes.originalMarkup.cend()
            || QByteArrayView(m_changes.markups.constData() + it->first, it->second) == signature(n);
    }
    xmlNodePtr originalParent(xmlNodePtr n) const
    {
        const auto it = m_changes.originalParent.constFind(n);
        return it == m_changes.originalParent.cend() ? n->parent : static_cast<xmlNodePtr>(it.value());
    }
    // A node still standing where it was read, after what was written
    // before it: its own bytes and leading white space can be used.
    bool inPlace(xmlNodePtr c, xmlNodePtr parent, qsizetype contentStart, qsizetype contentEnd, qsizetype lastEnd) const
    {
        return hasRange(c) && originalParent(c) == parent && rangeGapStart(c) >= std::max(contentStart, lastEnd)
            && rangeEnd(c) <= contentEnd;
    }

    // The indentation of a node's line, when it starts one.
    std::optional<QByteArray> indentOf(xmlNodePtr n) const
    {
        if (!hasRange(n))
            return std::nullopt;
        const QByteArray gap = asciiOf(rangeGapStart(n), m_s.markupStart(n));
        const qsizetype nl = gap.lastIndexOf('\n');
        if (nl < 0)
            return std::nullopt;
        return gap.mid(nl + 1);
    }
    // White space for a node written anew under `parent`: as a sibling's,
    // from its last line break; one level in from the parent's line where
    // no sibling tells. `indent` is the new line's indentation; none where
    // the siblings share one line (the node is written on it unformatted).
    QByteArray gapFor(xmlNodePtr parent, xmlNodePtr c, std::optional<QByteArray> *indent) const
    {
        const auto model = [&](xmlNodePtr s) -> std::optional<QByteArray> {
            if (!hasRange(s) || s->type == XML_TEXT_NODE || originalParent(s) != parent)
                return std::nullopt;
            const QByteArray gap = asciiOf(rangeGapStart(s), m_s.markupStart(s));
            const qsizetype nl = gap.lastIndexOf('\n');
            if (nl < 0)
                return gap.trimmed().isEmpty() && !gap.contains('&') ? gap : QByteArray();
            *indent = gap.mid(nl + 1);
            return m_s.lineEnd + **indent;
        };
        indent->reset();
        for (xmlNodePtr s = c->prev; s; s = s->prev)
            if (auto g = model(s))
                return *g;
        for (xmlNodePtr s = c->next; s; s = s->next)
            if (auto g = model(s))
                return *g;
        if (parent->type == XML_DOCUMENT_NODE) {
            *indent = QByteArray();
            return c->prev ? m_s.lineEnd : QByteArray();
        }
        const std::optional<QByteArray> outer = indentOf(parent);
        if (!outer)
            return QByteArray();
        *indent = *outer + m_unit;
        return m_s.lineEnd + **indent;
    }

    // The content of `parent` between its tags: children in place with
    // their own leading white space, the others written anew.
    void children(xmlNodePtr parent, qsizetype contentStart, qsizetype contentEnd, bool preserve)
    {
        qsizetype lastEnd = -1;
        xmlNodePtr previous = nullptr;
        for (xmlNodePtr c = parent->children; c; c = c->next) {
            // White space next to text would become part of it.
            const bool afterText = previous && previous->type == XML_TEXT_NODE;
            if (inPlace(c, parent, contentStart, contentEnd, lastEnd)) {
                const qsizetype start = m_s.markupStart(c);
                if (!afterText)
                    copy(rangeGapStart(c), start);
                node(c, start);
                lastEnd = rangeEnd(c);
            } else {
                std::optional<QByteArray> indent;
                const QByteArray gap = gapFor(parent, c, &indent);
                const bool nextText = c->next && c->next->type == XML_TEXT_NODE;
                if (!preserve && !afterText && !nextText && c->type != XML_TEXT_NODE)
                    m_out->append(m_s.ascii(gap));
                if (hasRange(c) && originalParent(c) == parent)
                    node(c, m_s.markupStart(c)); // moved among its siblings: its markup still reads the same
                else if (!indent || preserve)
                    write(m_dump(c, Part::Inline));
                else
                    write(m_dump(c, Part::Whole), hasTextLineBreak(c) ? QByteArray() : *indent);
            }
            previous = c;
        }
        if (preserve || (previous && previous->type == XML_TEXT_NODE))
            return;
        copy(std::max(lastEnd, m_s.blanksBefore(contentEnd, contentStart)), contentEnd);
    }

    void node(xmlNodePtr n, qsizetype start)
    {
        const qsizetype end = rangeEnd(n);
        if (!changed(n)) {
            copy(start, end);
        } else if (n->type == XML_ELEMENT_NODE) {
            element(n, start);
        } else if (ownClean(n)) {
            copy(start, end);
        } else {
            write(m_dump(n, Part::Inline));
        }
    }

    void element(xmlNodePtr n, qsizetype start)
    {
        const bool own = ownClean(n);
        const qsizetype tagEnd = m_s.startTagEnd(n);
        const bool preserve = preservesSpace(n);
        QByteArray tag;
        if (!own)
            tag = m_dump(n, Part::StartTag); // "<name .../>"
        const QByteArray name = tag.isEmpty() ? QByteArray() : tag.mid(1, tag.size() - 3).split(' ').first();
        if (!m_s.selfClosing(n)) {
            if (own)
                copy(start, tagEnd);
            else
                write(tag.chopped(2) + '>');
            const qsizetype endStart = m_s.endTagStart(n);
            children(n, tagEnd, endStart, preserve);
            if (own)
                copy(endStart, rangeEnd(n));
            else
                write("</" + name + '>');
            return;
        }
        if (!n->children) {
            if (own)
                copy(start, tagEnd);
            else
                write(tag);
            return;
        }
        // An empty element that now has content opens up.
        if (own) {
            copy(start, tagEnd - 2 * m_s.unit());
            m_out->append(m_s.ascii(">"));
        } else {
            write(tag.chopped(2) + '>');
        }
        children(n, tagEnd, tagEnd, preserve);
        std::optional<QByteArray> indent;
        const QByteArray gap = gapFor(n, n->children, &indent);
        if (!preserve && n->last->type != XML_TEXT_NODE && gap.contains('\n'))
            m_out->append(m_s.ascii(m_s.lineEnd + indentOf(n).value_or(QByteArray())));
        if (own) {
            // The end tag repeats the start tag's name as the source spells it.
            const qsizetype nameStart = start + m_s.unit();
            qsizetype nameEnd = nameStart;
            for (uint32_t c = m_s.at(nameEnd); c != '/' && c != '>' && c != ' ' && c != '\t' && c != '\n' && c != '\r';
                 c = m_s.at(nameEnd))
                nameEnd += m_s.width(nameEnd);
            m_out->append(m_s.ascii("</"));
            copy(nameStart, nameEnd);
            m_out->append(m_s.ascii(">"));
        } else {
            write("</" + name + '>');
        }
    }

    const XmlSource &m_s;
    const XmlDocument::SourceChanges &m_changes;
    const QByteArray m_unit;
    const Dump m_dump;
    QByteArray *m_out;
};

} // namespace

bool XmlDocument::canSplice(const QByteArray &encoding) const
{
    settle();
    return m_source && m_source->encoding == encoding;
}

void XmlDocument::splice(QByteArray *out) const
{
    const bool utf16 = m_source->unit() == 2;
    const QByteArray encoding = utf16 ? QByteArray("UTF-8") : m_source->encoding;
    const auto dump = [&](xmlNodePtr n, Splicer::Part part) {
        QByteArray markup;
        if (part != Splicer::Part::StartTag) {
            this->dump(XmlNode(n, nullptr), &markup, encoding.constData(), 0, part == Splicer::Part::Whole);
            return markup;
        }
        // The start tag alone: the element written without its children.
        const xmlNodePtr children = n->children, last = n->last;
        n->children = n->last = nullptr;
        this->dump(XmlNode(n, nullptr), &markup, encoding.constData());
        n->children = children;
        n->last = last;
        return markup;
    };
    Splicer(*m_source, m_changes, utf8(m_indentUnit), dump, out).document(m_doc);
}

void XmlDocument::noteMarkupChange(void *node)
{
    settle();
    xmlNodePtr n = static_cast<xmlNodePtr>(node);
    if (!m_source || !n)
        return;
    if (hasRange(n) && !m_changes.originalMarkup.contains(n)) {
        const QByteArray markup = signature(n);
        m_changes.originalMarkup.insert(n, {m_changes.markups.size(), markup.size()});
        m_changes.markups += markup;
    }
    noteContentChange(n);
}

void XmlDocument::noteContentChange(void *parent)
{
    settle();
    if (!m_source)
        return;
    for (xmlNodePtr p = static_cast<xmlNodePtr>(parent); p && p->type != XML_DOCUMENT_NODE; p = p->parent) {
        if (m_changes.changed.contains(p))
            break; // its ancestors are marked already
        m_changes.changed.insert(p);
    }
}

void XmlDocument::noteRemoval(void *parent, void *node)
{
    settle();
    xmlNodePtr n = static_cast<xmlNodePtr>(node);
    if (!m_source)
        return;
    if (n->type != XML_ATTRIBUTE_NODE && hasRange(n))
        if (!m_changes.originalParent.contains(n)) // where it first stood
            m_changes.originalParent.insert(n, parent);
    noteContentChange(parent);
}

void XmlDocument::keepSource(const QByteArray &bytes)
{
    settle();
    m_changes = SourceChanges();
    m_source.reset();
    if (bytes.isNull())
        return;
    std::unique_ptr<XmlSource> source = makeSource(bytes, declaredEncoding().toLatin1());
    if (!source)
        return;
    // Mapping takes about a third of a second for 50 MB: a large file is
    // mapped on a thread of its own while the window shows the tree.
    constexpr qsizetype kMapInBackground = 4 * 1024 * 1024;
    if (bytes.size() < kMapInBackground) {
        if (mapSource(m_doc, *source))
            m_source = std::move(source);
        return;
    }
    const xmlDocPtr doc = m_doc;
    m_mapping = std::async(std::launch::async, [doc, s = source.release()]() -> XmlSource * {
        std::unique_ptr<XmlSource> owned(s);
        return mapSource(doc, *owned) ? owned.release() : nullptr;
    });
}

bool XmlDocument::isSettled() const
{
    const auto ready = [](const auto &work) { return !work.valid() || work.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
    return ready(m_reading) && ready(m_mapping);
}

void XmlDocument::numberElements()
{
    settle();
    // The root element comes first: unnumbered, it was replaced or never
    // numbered, and then all are numbered again.
    const xmlNodePtr root = xmlDocGetRootElement(m_doc);
    if (root && reinterpret_cast<ptrdiff_t>(root->content) >= 0)
        xmlXPathOrderDocElems(m_doc);
    m_numbered = true;
}

void XmlDocument::settle() const
{
    if (m_reading.valid())
        m_reading.wait();
    if (m_mapping.valid())
        m_source.reset(m_mapping.get());
}
