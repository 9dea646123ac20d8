#pragma once

// The bytes a document was loaded from and where each node's markup stands
// in them, so a save can copy what the user did not change byte for byte.
// Internal to src/document.

#include <QByteArray>

#include <libxml/tree.h>

#include <cstdint>
#include <memory>

namespace xmldoc {

// How characters are laid out in the source bytes, as far as finding
// markup needs: in UTF-8, EUC-JP and single-byte encodings no byte of a
// multi-byte character is ASCII; Shift_JIS, Big5 and GBK trail bytes can be
// (never '<', '>', '&', quotes, '=' or blanks, but ']' or '\\'), so those
// are stepped through character by character; UTF-16 counts in two-byte
// units.
enum class SourceCoding { Bytes, ShiftJis, Chinese, Utf16LE, Utf16BE };

struct XmlSource
{
    QByteArray bytes;
    SourceCoding coding = SourceCoding::Bytes;
    QByteArray encoding;  // the declared encoding at load, as declaredEncoding() said
    QByteArray lineEnd;   // "\n" or "\r\n", in ASCII
    qsizetype bomLength = 0;

    int unit() const { return coding == SourceCoding::Utf16LE || coding == SourceCoding::Utf16BE ? 2 : 1; }
    // The character (code unit for UTF-16) at byte `i`; >= 0x80 for
    // anything but ASCII.
    uint32_t at(qsizetype i) const;
    // Bytes of the character starting at `i`.
    qsizetype width(qsizetype i) const;
    qsizetype size() const { return bytes.size(); }
    // ASCII text in the source's coding.
    QByteArray ascii(const QByteArray &text) const;

    // Markup positions, from a node's recorded range: where its markup
    // starts (after its leading white space), where an element's start tag
    // ends, where its end tag starts, and whether the start tag is empty.
    qsizetype markupStart(xmlNodePtr n) const;
    qsizetype startTagEnd(xmlNodePtr n) const;
    qsizetype endTagStart(xmlNodePtr n) const;
    bool selfClosing(xmlNodePtr n) const;
    // The start of the white space that ends before `end`, not before `floor`.
    qsizetype blanksBefore(qsizetype end, qsizetype floor) const;
};

// Each mapped node's range: from the end of the markup before it (its
// leading white space) to the end of its own markup, kept in the node's
// application pointer, which nothing else here uses and copies never carry.
inline bool hasRange(xmlNodePtr n)
{
    return n && n->type != XML_ATTRIBUTE_NODE && n->_private != nullptr;
}
inline qsizetype rangeGapStart(xmlNodePtr n)
{
    return qsizetype(reinterpret_cast<uintptr_t>(n->_private) >> 32);
}
inline qsizetype rangeEnd(xmlNodePtr n)
{
    return qsizetype(reinterpret_cast<uintptr_t>(n->_private) & 0xFFFFFFFFu);
}
inline void setRange(xmlNodePtr n, qsizetype gapStart, qsizetype end)
{
    n->_private = reinterpret_cast<void *>((uintptr_t(gapStart) << 32) | uintptr_t(end));
}

// The source of a parse, or null when its encoding is one markup cannot be
// found in byte-wise, or it is over 4 GB. `declared`: the declared encoding.
std::unique_ptr<XmlSource> makeSource(const QByteArray &bytes, const QByteArray &declared);

// Records the range of every node of `doc` (after blank text was dropped
// and the declaration added). False when source and tree do not line up,
// which leaves the save to the formatter.
bool mapSource(xmlDocPtr doc, const XmlSource &source);

} // namespace xmldoc
