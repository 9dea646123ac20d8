// Finding each node's markup in the bytes it was loaded from.
#include "XmlSource.h"

#include "Encodings.h"

#include <cstring>
#include <vector>

namespace xmldoc {

uint32_t XmlSource::at(qsizetype i) const
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    switch (coding) {
    case SourceCoding::Utf16LE:
        return i + 1 < bytes.size() ? uint32_t(p[i]) | uint32_t(p[i + 1]) << 8 : 0xFFFF;
    case SourceCoding::Utf16BE:
        return i + 1 < bytes.size() ? uint32_t(p[i]) << 8 | uint32_t(p[i + 1]) : 0xFFFF;
    default:
        return p[i];
    }
}

qsizetype XmlSource::width(qsizetype i) const
{
    if (unit() == 2)
        return 2;
    const uchar c = uchar(bytes[i]);
    if (coding == SourceCoding::ShiftJis) {
        if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < bytes.size())
            return 2;
    } else if (coding == SourceCoding::Chinese && c >= 0x81 && c <= 0xFE && i + 1 < bytes.size()) {
        // GB18030's four-byte characters have a digit second.
        const uchar second = uchar(bytes[i + 1]);
        return second >= 0x30 && second <= 0x39 && i + 3 < bytes.size() ? 4 : 2;
    }
    return 1;
}

QByteArray XmlSource::ascii(const QByteArray &text) const
{
    if (unit() == 1)
        return text;
    QByteArray out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        if (coding == SourceCoding::Utf16BE)
            out.append('\0');
        out.append(c);
        if (coding == SourceCoding::Utf16LE)
            out.append('\0');
    }
    return out;
}

qsizetype XmlSource::markupStart(xmlNodePtr n) const
{
    const qsizetype end = rangeEnd(n);
    qsizetype i = rangeGapStart(n);
    if (n->type == XML_TEXT_NODE)
        return i;
    const uint32_t opener = n->type == XML_ENTITY_REF_NODE ? '&' : '<';
    while (i < end && at(i) != opener)
        i += width(i);
    return i;
}

qsizetype XmlSource::startTagEnd(xmlNodePtr n) const
{
    const qsizetype end = rangeEnd(n);
    uint32_t quote = 0;
    for (qsizetype i = markupStart(n); i < end; i += width(i)) {
        const uint32_t c = at(i);
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + unit();
        }
    }
    return end;
}

bool XmlSource::selfClosing(xmlNodePtr n) const
{
    const qsizetype tagEnd = startTagEnd(n);
    return tagEnd == rangeEnd(n) && at(tagEnd - 2 * unit()) == '/';
}

qsizetype XmlSource::endTagStart(xmlNodePtr n) const
{
    // No byte of a multi-byte character is '<' in the codings kept.
    const qsizetype floor = markupStart(n);
    for (qsizetype i = rangeEnd(n) - unit(); i > floor; i -= unit())
        if (at(i) == '<')
            return i;
    return rangeEnd(n);
}

qsizetype XmlSource::blanksBefore(qsizetype end, qsizetype floor) const
{
    qsizetype i = end;
    while (i - unit() >= floor) {
        const uint32_t c = at(i - unit());
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            break;
        // A blank can be the trail byte of nothing in these codings.
        i -= unit();
    }
    return i;
}

std::unique_ptr<XmlSource> makeSource(const QByteArray &bytes, const QByteArray &declared)
{
    if (bytes.size() >= (qsizetype(1) << 31))
        return nullptr;
    auto s = std::make_unique<XmlSource>();
    const QByteArray name = declared.toUpper();
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith(QByteArray("<\0?\0", 4))) {
        s->coding = SourceCoding::Utf16LE;
        s->bomLength = bytes.startsWith("\xFF\xFE") ? 2 : 0;
    } else if (bytes.startsWith("\xFE\xFF") || bytes.startsWith(QByteArray("\0<\0?", 4))) {
        s->coding = SourceCoding::Utf16BE;
        s->bomLength = bytes.startsWith("\xFE\xFF") ? 2 : 0;
    } else if (name.startsWith("UTF-16") || name.startsWith("UTF16") || name.startsWith("UCS") || name.startsWith("UTF-32")) {
        return nullptr;
    } else if (name == "SHIFT_JIS" || name == "SHIFT-JIS" || name == "SJIS" || name == "MS_KANJI" || name == "CP932"
               || name == "WINDOWS-31J" || name == "CSSHIFTJIS" || name == "X-SJIS") {
        s->coding = SourceCoding::ShiftJis;
    } else if (name.startsWith("BIG5") || name.startsWith("BIG-5") || name == "GBK" || name == "GB18030" || name == "CP936"
               || name == "CP950") {
        s->coding = SourceCoding::Chinese;
    } else if (name == "UTF-8" || name == "UTF8" || name.startsWith("EUC-JP") || name == "EUCJP"
               || libxml::isAsciiSingleByte(declared)) {
        s->coding = SourceCoding::Bytes;
        s->bomLength = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    } else {
        return nullptr; // trail bytes of other multi-byte codings can look like markup
    }
    s->bytes = bytes;
    s->encoding = declared;
    s->lineEnd = "\n";
    for (qsizetype i = s->bomLength; i < bytes.size(); i += s->width(i))
        if (s->at(i) == '\n') {
            if (i >= s->unit() && s->at(i - s->unit()) == '\r')
                s->lineEnd = "\r\n";
            break;
        }
    return s;
}

namespace {

bool isBlankChar(uint32_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Walks the source in step with the tree: each piece of markup found is
// the next child expected under the element whose content is being read.
class Mapper
{
public:
    Mapper(xmlDocPtr doc, const XmlSource &s) : m_doc(doc), m_s(s), m_u(s.unit()) {}

    bool run()
    {
        m_stack.push_back({reinterpret_cast<xmlNodePtr>(m_doc), m_doc->children, m_s.bomLength});
        qsizetype pos = m_s.bomLength;
        const qsizetype size = m_s.size();
        while (pos < size) {
            if (m_s.at(pos) != '<') {
                qsizetype next = pos;
                if (m_s.coding == SourceCoding::Bytes) {
                    const void *lt = std::memchr(m_s.bytes.constData() + pos, '<', size_t(size - pos));
                    next = lt ? static_cast<const char *>(lt) - m_s.bytes.constData() : size;
                }
                while (next < size && m_s.at(next) != '<')
                    next += m_s.width(next);
                if (!characterData(pos, next))
                    return false;
                pos = next;
                continue;
            }
            const qsizetype end = markup(pos);
            if (end < 0)
                return false;
            pos = end;
        }
        return m_stack.size() == 1 && !m_stack.back().next;
    }

private:
    struct Frame
    {
        xmlNodePtr parent;
        xmlNodePtr next; // the next child not yet found in the source
        qsizetype gap;   // where the white space before it starts
    };

    bool startsWith(qsizetype i, const char *text) const
    {
        for (; *text; ++text, i += m_u)
            if (i >= m_s.size() || m_s.at(i) != uint32_t(uchar(*text)))
                return false;
        return true;
    }
    // The position after the first `text` at or after `i`, or -1.
    qsizetype after(qsizetype i, const char *text) const
    {
        const qsizetype size = m_s.size();
        const uint32_t first = uchar(*text);
        if (m_s.coding == SourceCoding::Bytes) {
            const QByteArrayView needle(text);
            const qsizetype at = QByteArrayView(m_s.bytes).indexOf(needle, i);
            return at < 0 ? -1 : at + needle.size();
        }
        for (; i < size; i += m_s.width(i))
            if (m_s.at(i) == first && startsWith(i, text))
                return i + qsizetype(std::strlen(text)) * m_u;
        return -1;
    }
    // After a tag's closing '>', quoted values skipped.
    qsizetype tagEnd(qsizetype i) const
    {
        uint32_t quote = 0;
        for (; i < m_s.size(); i += m_s.width(i)) {
            const uint32_t c = m_s.at(i);
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i + m_u;
            }
        }
        return -1;
    }
    // After a document type declaration, its internal subset included.
    qsizetype doctypeEnd(qsizetype i) const
    {
        bool subset = false;
        while (i < m_s.size()) {
            const uint32_t c = m_s.at(i);
            if (c == '"' || c == '\'') {
                i += m_u;
                while (i < m_s.size() && m_s.at(i) != c)
                    i += m_s.width(i);
                i += m_u;
            } else if (subset && startsWith(i, "<!--")) {
                i = after(i + 4 * m_u, "-->");
            } else if (subset && startsWith(i, "<?")) {
                i = after(i + 2 * m_u, "?>");
            } else if (c == '[') {
                subset = true;
                i += m_u;
            } else if (c == ']') {
                subset = false;
                i += m_u;
            } else if (c == '>' && !subset) {
                return i + m_u;
            } else {
                i += m_s.width(i);
            }
            if (i < 0)
                return -1;
        }
        return -1;
    }
    // The name starting at `i` equals the node's qualified name; checked
    // where the source is UTF-8, as the tree holds names in UTF-8.
    bool nameMatches(qsizetype i, xmlNodePtr n) const
    {
        if (m_s.coding != SourceCoding::Bytes || m_s.encoding.compare("UTF-8", Qt::CaseInsensitive) != 0)
            return true;
        const auto matchAt = [this, &i](const xmlChar *part) {
            const qsizetype length = xmlStrlen(part);
            if (i + length >= m_s.size() || std::memcmp(m_s.bytes.constData() + i, part, size_t(length)) != 0)
                return false;
            i += length;
            return true;
        };
        if (n->type == XML_ELEMENT_NODE && n->ns && n->ns->prefix && !(matchAt(n->ns->prefix) && matchAt(BAD_CAST ":")))
            return false;
        if (!matchAt(n->name))
            return false;
        const uint32_t c = m_s.at(i);
        return isBlankChar(c) || c == '>' || c == '/' || c == '?';
    }
    // The next expected child, when it is of `type`.
    xmlNodePtr expect(xmlElementType type)
    {
        Frame &f = m_stack.back();
        if (!f.next || f.next->type != type)
            return nullptr;
        xmlNodePtr n = f.next;
        f.next = n->next;
        return n;
    }
    void found(xmlNodePtr n, qsizetype end)
    {
        setRange(n, m_stack.back().gap, end);
        m_stack.back().gap = end;
    }

    qsizetype markup(qsizetype pos)
    {
        // Markup that ends at a terminator: the node it makes is the next one.
        struct Simple
        {
            const char *open;
            const char *close; // null: the document type's own end
            xmlElementType type;
        };
        static constexpr Simple kSimple[] = {{"<?", "?>", XML_PI_NODE},
                                             {"<!--", "-->", XML_COMMENT_NODE},
                                             {"<![CDATA[", "]]>", XML_CDATA_SECTION_NODE},
                                             {"<!DOCTYPE", nullptr, XML_DTD_NODE}};
        for (const Simple &k : kSimple) {
            if (!startsWith(pos, k.open))
                continue;
            const qsizetype body = pos + qsizetype(std::strlen(k.open)) * m_u;
            const qsizetype end = k.close ? after(body, k.close) : doctypeEnd(body);
            xmlNodePtr n = expect(k.type);
            if (end < 0 || !n || (k.type == XML_PI_NODE && !nameMatches(body, n)))
                return -1;
            found(n, end);
            return end;
        }
        if (startsWith(pos, "</")) {
            const qsizetype end = tagEnd(pos);
            Frame f = m_stack.back();
            if (end < 0 || f.next || m_stack.size() < 2 || !nameMatches(pos + 2 * m_u, f.parent))
                return -1;
            m_stack.pop_back();
            setRange(f.parent, rangeGapStart(f.parent), end);
            m_stack.back().gap = end;
            return end;
        }
        const qsizetype end = tagEnd(pos);
        xmlNodePtr n = expect(XML_ELEMENT_NODE);
        if (end < 0 || !n || !nameMatches(pos + m_u, n))
            return -1;
        if (m_s.at(end - 2 * m_u) == '/') {
            found(n, end);
        } else {
            setRange(n, m_stack.back().gap, end); // the end is set at its end tag
            m_stack.push_back({n, n->children, end});
        }
        return end;
    }

    // Text between markup: runs of text and references to entities other
    // than the predefined ones, each a node, except blank runs the load
    // dropped, which stay white space before the next node.
    bool characterData(qsizetype pos, qsizetype end)
    {
        qsizetype runStart = pos;
        bool blank = true;
        qsizetype i = pos;
        while (i < end) {
            const uint32_t c = m_s.at(i);
            if (c != '&') {
                blank = blank && isBlankChar(c);
                i += m_s.width(i);
                continue;
            }
            qsizetype j = i + m_u;
            while (j < end && m_s.at(j) != ';')
                j += m_s.width(j);
            if (j >= end)
                return false;
            const qsizetype refEnd = j + m_u;
            if (m_s.at(i + m_u) == '#') {
                blank = blank && blankReference(i + 2 * m_u, j);
                i = refEnd;
                continue;
            }
            static const char *const predefined[] = {"&lt;", "&gt;", "&amp;", "&apos;", "&quot;"};
            bool isPredefined = false;
            for (const char *p : predefined)
                isPredefined = isPredefined || (startsWith(i, p) && qsizetype(std::strlen(p)) * m_u == refEnd - i);
            if (isPredefined) {
                blank = false;
                i = refEnd;
                continue;
            }
            if (i > runStart && !text(runStart, i, blank))
                return false;
            xmlNodePtr n = expect(XML_ENTITY_REF_NODE);
            if (!n)
                return false;
            found(n, refEnd);
            i = runStart = refEnd;
            blank = true;
        }
        return end <= runStart || text(runStart, end, blank);
    }
    bool blankReference(qsizetype i, qsizetype end) const
    {
        uint32_t value = 0;
        const bool hex = m_s.at(i) == 'x';
        for (i += hex ? m_u : 0; i < end; i += m_u) {
            const uint32_t c = m_s.at(i);
            const uint32_t digit = c >= '0' && c <= '9' ? c - '0' : hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : 99;
            if (digit == 99 || value > 0x10FFFF)
                return false;
            value = value * (hex ? 16 : 10) + digit;
        }
        return isBlankChar(value);
    }
    bool text(qsizetype start, qsizetype end, bool blank)
    {
        Frame &f = m_stack.back();
        if (f.next && f.next->type == XML_TEXT_NODE) {
            if (f.gap != start)
                return false;
            found(expect(XML_TEXT_NODE), end);
            return true;
        }
        return blank; // dropped at load: white space before the next node
    }

    xmlDocPtr m_doc;
    const XmlSource &m_s;
    const int m_u;
    std::vector<Frame> m_stack;
};

} // namespace

bool mapSource(xmlDocPtr doc, const XmlSource &source)
{
    return Mapper(doc, source).run();
}

} // namespace xmldoc
